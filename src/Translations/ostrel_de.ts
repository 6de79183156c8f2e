<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>ByteCountFormatter</name>
    <message>
        <source>%1 bytes</source>
        <translation>%1 Byte</translation>
    </message>
    <message>
        <source>%1 KB</source>
        <translation>%1 KB</translation>
    </message>
    <message>
        <source>%1 MB</source>
        <translation>%1 MB</translation>
    </message>
    <message>
        <source>%1 GB</source>
        <translation>%1 GB</translation>
    </message>
    <message>
        <source>%1 TB</source>
        <translation>%1 TB</translation>
    </message>
    <message>
        <source>%1 PB</source>
        <translation>%1 PB</translation>
    </message>
    <message>
        <source>%1 EB</source>
        <translation>%1 EB</translation>
    </message>
    <message>
        <source>Zero KB</source>
        <translation>Null KB</translation>
    </message>
    <message>
        <source>1 byte</source>
        <translation>1 Byte</translation>
    </message>
</context>
<context>
    <name>ErrorMessage</name>
    <message>
        <source>“%1” could not be extracted.</source>
        <translation>„%1“ konnte nicht entpackt werden.</translation>
    </message>
    <message>
        <source>An unexpected error occurred while reading the archive.</source>
        <translation>Beim Lesen des Archivs ist ein unerwarteter Fehler aufgetreten.</translation>
    </message>
    <message>
        <source>“%1” is damaged.</source>
        <translation>„%1“ ist beschädigt.</translation>
    </message>
    <message>
        <source>“%1” failed its integrity check. Nothing was extracted.</source>
        <translation>„%1“ hat die Integritätsprüfung nicht bestanden. Es wurde nichts entpackt.</translation>
    </message>
    <message>
        <source>The archive could not be read to the end. Nothing was extracted.</source>
        <translation>Das Archiv konnte nicht bis zum Ende gelesen werden. Es wurde nichts entpackt.</translation>
    </message>
    <message>
        <source>A part of “%1” is missing.</source>
        <translation>Ein Teil von „%1“ fehlt.</translation>
    </message>
    <message>
        <source>“%1” was not found. Put all the parts in the same folder and try again.</source>
        <translation>„%1“ wurde nicht gefunden. Legen Sie alle Teile in denselben Ordner und versuchen Sie es erneut.</translation>
    </message>
    <message>
        <source>There is not enough free space to extract “%1”.</source>
        <translation>Es ist nicht genügend freier Speicherplatz vorhanden, um „%1“ zu entpacken.</translation>
    </message>
    <message>
        <source>The contents need %1, but only %2 is available.</source>
        <translation>Der Inhalt benötigt %1, verfügbar sind aber nur %2.</translation>
    </message>
    <message>
        <source>The contents are %1 files and folders, but the disk has room for only %2 more.</source>
        <translation>Der Inhalt umfasst %1 Dateien und Ordner, auf dem Datenträger ist aber nur noch Platz für %2.</translation>
    </message>
    <message>
        <source>“%1” cannot be extracted here.</source>
        <translation>„%1“ kann hier nicht entpackt werden.</translation>
    </message>
    <message>
        <source>Nothing can be saved in “%1”. Choose another folder to extract the contents there.</source>
        <translation>In „%1“ kann nichts gespeichert werden. Wählen Sie einen anderen Ordner, um den Inhalt dorthin zu entpacken.</translation>
    </message>
    <message>
        <source>“%1” was not extracted because it is unsafe.</source>
        <translation>„%1“ wurde nicht entpackt, weil es unsicher ist.</translation>
    </message>
    <message>
        <source>The archive contains an item that would be saved outside the extraction folder: “%1”.</source>
        <translation>Das Archiv enthält ein Objekt, das außerhalb des Zielordners gespeichert würde: „%1“.</translation>
    </message>
    <message>
        <source>The disk ran out of space during extraction. Nothing was extracted.</source>
        <translation>Während des Entpackens war der Datenträger voll. Es wurde nichts entpackt.</translation>
    </message>
    <message>
        <source>“%1” could not be saved: %2.</source>
        <translation>„%1“ konnte nicht gespeichert werden: %2.</translation>
    </message>
    <message>
        <source>“%1” is a folder, a device or a pipe, not a file.</source>
        <translation>„%1“ ist ein Ordner, ein Gerät oder eine Pipe, keine Datei.</translation>
    </message>
    <message>
        <source>“%1” is empty. Copy or download that part again.</source>
        <translation>„%1“ ist leer. Kopieren oder laden Sie diesen Teil erneut herunter.</translation>
    </message>
    <message>
        <source>You do not have permission to read “%1”.</source>
        <translation>Sie haben keine Berechtigung, „%1“ zu lesen.</translation>
    </message>
    <message>
        <source>“%1” could not be opened.</source>
        <translation>„%1“ konnte nicht geöffnet werden.</translation>
    </message>
    <message>
        <source>Check that the file still exists and that you have permission to read it.</source>
        <translation>Prüfen Sie, ob die Datei noch vorhanden ist und ob Sie sie lesen dürfen.</translation>
    </message>
    <message>
        <source>“%1” is not a valid RAR archive.</source>
        <translation>„%1“ ist kein gültiges RAR-Archiv.</translation>
    </message>
    <message>
        <source>The file may be incomplete or in a different format.</source>
        <translation>Die Datei ist möglicherweise unvollständig oder hat ein anderes Format.</translation>
    </message>
    <message>
        <source>There is not enough memory to unpack this archive.</source>
        <translation>Zum Entpacken dieses Archivs ist nicht genügend Arbeitsspeicher vorhanden.</translation>
    </message>
    <message>
        <source>The archive was not opened: its reader could not be shut off from your files on this system.</source>
        <translation>Das Archiv wurde nicht geöffnet: Sein Leseprozess konnte auf diesem System nicht von Ihren Dateien abgeschirmt werden.</translation>
    </message>
    <message>
        <source>The archive uses a newer RAR format that this version cannot unpack.</source>
        <translation>Das Archiv verwendet ein neueres RAR-Format, das diese Version nicht entpacken kann.</translation>
    </message>
    <message>
        <source>“%1” is not a valid %2 archive.</source>
        <extracomment>%2 is the archive format as its file name says, e.g. &quot;zip&quot;, &quot;7z&quot;, &quot;tar.gz&quot;.</extracomment>
        <translation>„%1“ ist kein gültiges %2-Archiv.</translation>
    </message>
    <message>
        <source>“%1” is not a valid %2 file.</source>
        <extracomment>%2 is the compression format as the file name says, e.g. &quot;gzip&quot;, &quot;xz&quot;, &quot;zstd&quot;.</extracomment>
        <translation>„%1“ ist keine gültige %2-Datei.</translation>
    </message>
    <message>
        <source>“%1” is not an archive that Ostrel can open.</source>
        <translation>„%1“ ist kein Archiv, das Ostrel öffnen kann.</translation>
    </message>
    <message>
        <source>This %1 archive uses a method that this version cannot unpack.</source>
        <extracomment>%1 is the archive format as its file name says, e.g. &quot;zip&quot;, &quot;7z&quot;, &quot;tar.gz&quot;.</extracomment>
        <translation>Dieses %1-Archiv verwendet ein Verfahren, das diese Version nicht entpacken kann.</translation>
    </message>
    <message>
        <source>This %1 file uses a method that this version cannot unpack.</source>
        <extracomment>%1 is the compression format as the file name says, e.g. &quot;gzip&quot;, &quot;xz&quot;, &quot;zstd&quot;.</extracomment>
        <translation>Diese %1-Datei verwendet ein Verfahren, das diese Version nicht entpacken kann.</translation>
    </message>
    <message>
        <source>The archive uses a format that this version cannot unpack.</source>
        <translation>Das Archiv verwendet ein Format, das diese Version nicht entpacken kann.</translation>
    </message>
    <message>
        <source>“%1” is part of a spanned zip archive, which Ostrel cannot open.</source>
        <translation>„%1“ gehört zu einem über mehrere Datenträger verteilten Zip-Archiv, das Ostrel nicht öffnen kann.</translation>
    </message>
    <message>
        <source>The archive needs %1 of memory to unpack, more than Ostrel may use.</source>
        <translation>Zum Entpacken braucht das Archiv %1 Arbeitsspeicher, mehr als Ostrel verwenden darf.</translation>
    </message>
    <message>
        <source>The archive uses encryption that Ostrel cannot open.</source>
        <translation>Das Archiv verwendet eine Verschlüsselung, die Ostrel nicht öffnen kann.</translation>
    </message>
</context>
<context>
    <name>ErrorPresenter</name>
    <message>
        <source>Extract Here</source>
        <translation>Hierhin entpacken</translation>
    </message>
    <message>
        <source>Choose where to extract “%1”.</source>
        <translation>Wählen Sie, wohin „%1“ entpackt werden soll.</translation>
    </message>
    <message>
        <source>Choose Folder…</source>
        <translation>Ordner wählen …</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
</context>
<context>
    <name>MainMenu</name>
    <message>
        <source>About %1</source>
        <translation>Über %1</translation>
    </message>
    <message>
        <source>Version %1</source>
        <translation>Version %1</translation>
    </message>
    <message>
        <source>Released under the MIT License.</source>
        <translation>Veröffentlicht unter der MIT-Lizenz.</translation>
    </message>
    <message>
        <source>RAR archives are unpacked with the UnRAR source code by Varnholt.</source>
        <translation>RAR-Archive werden mit dem UnRAR-Quellcode von Varnholt entpackt.</translation>
    </message>
    <message>
        <source>Settings…</source>
        <translation>Einstellungen …</translation>
    </message>
    <message>
        <source>Quit %1</source>
        <translation>%1 beenden</translation>
    </message>
    <message>
        <source>Edit</source>
        <translation>Bearbeiten</translation>
    </message>
    <message>
        <source>Cut</source>
        <translation>Ausschneiden</translation>
    </message>
    <message>
        <source>Copy</source>
        <translation>Kopieren</translation>
    </message>
    <message>
        <source>Paste</source>
        <translation>Einfügen</translation>
    </message>
    <message>
        <source>Select All</source>
        <translation>Alles auswählen</translation>
    </message>
    <message>
        <source>Window</source>
        <translation>Fenster</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
</context>
<context>
    <name>PasswordPrompt</name>
    <message>
        <source>Enter the password for “%1”.</source>
        <translation>Geben Sie das Passwort für „%1“ ein.</translation>
    </message>
    <message>
        <source>Incorrect password. Try again.</source>
        <translation>Falsches Passwort. Versuchen Sie es erneut.</translation>
    </message>
    <message>
        <source>This archive is protected with a password.</source>
        <translation>Dieses Archiv ist mit einem Passwort geschützt.</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>Passwort</translation>
    </message>
    <message>
        <source>Show password</source>
        <translation>Passwort anzeigen</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
</context>
<context>
    <name>SkippedEntriesMessage</name>
    <message numerus="yes">
        <source>…and %n more</source>
        <translation>
            <numerusform>… und %n weiteres</numerusform>
            <numerusform>… und %n weitere</numerusform>
        </translation>
    </message>
    <message>
        <source>Some items in “%1” were not extracted.</source>
        <translation>Einige Objekte in „%1“ wurden nicht entpackt.</translation>
    </message>
    <message>
        <source>Links that point outside the extraction folder, or whose destination cannot be verified, are skipped for safety.</source>
        <translation>Verknüpfungen, die aus dem Zielordner hinausführen oder deren Ziel nicht geprüft werden kann, werden aus Sicherheitsgründen übersprungen.</translation>
    </message>
    <message>
        <source>Devices, pipes and sockets in an archive are never created.</source>
        <translation>Geräte, Pipes und Sockets aus einem Archiv werden nie angelegt.</translation>
    </message>
</context>
<context>
    <name>tovani::AcknowledgementsView</name>
    <message>
        <source>Acknowledgements</source>
        <translation>Danksagungen</translation>
    </message>
    <message>
        <source>RAR archives are unpacked with the UnRAR source code by Varnholt, used under the following license.</source>
        <translation>RAR-Archive werden mit dem UnRAR-Quellcode von Varnholt entpackt, der unter der folgenden Lizenz verwendet wird.</translation>
    </message>
    <message>
        <source>Done</source>
        <translation>Fertig</translation>
    </message>
</context>
<context>
    <name>tovani::AppDelegate</name>
    <message>
        <source>Extracted “%1”</source>
        <translation>„%1“ entpackt</translation>
    </message>
    <message>
        <source>in %1</source>
        <translation>in %1</translation>
    </message>
</context>
<context>
    <name>tovani::DesktopNotifier</name>
    <message>
        <source>Show in File Manager</source>
        <translation>In der Dateiverwaltung zeigen</translation>
    </message>
</context>
<context>
    <name>tovani::ProgressWindowController</name>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Shift-click to cancel the remaining archives as well.</source>
        <translation>Mit gedrückter Umschalttaste klicken, um auch die übrigen Archive abzubrechen.</translation>
    </message>
    <message>
        <source>Extracting “%1”</source>
        <translation>„%1“ wird entpackt</translation>
    </message>
    <message>
        <source>%1 of %2</source>
        <translation>%1 von %2</translation>
    </message>
    <message>
        <source>%1, %2 left</source>
        <translation>%1, noch %2</translation>
    </message>
    <message>
        <source>%1 s</source>
        <translation>%1 s</translation>
    </message>
    <message>
        <source>%1 min</source>
        <translation>%1 min</translation>
    </message>
    <message>
        <source>%1 h %2 min</source>
        <translation>%1 h %2 min</translation>
    </message>
    <message>
        <source>Cancelling…</source>
        <translation>Wird abgebrochen …</translation>
    </message>
</context>
<context>
    <name>tovani::SettingsView</name>
    <message>
        <source>Set as Default</source>
        <translation>Als Standard festlegen</translation>
    </message>
    <message>
        <source>Default App</source>
        <translation>Standard-App</translation>
    </message>
    <message>
        <source>Do nothing</source>
        <translation>Nichts tun</translation>
    </message>
    <message>
        <source>Show in File Manager</source>
        <translation>In der Dateiverwaltung zeigen</translation>
    </message>
    <message>
        <source>Keep</source>
        <translation>Behalten</translation>
    </message>
    <message>
        <source>Move to Trash</source>
        <translation>In den Papierkorb verschieben</translation>
    </message>
    <message>
        <source>Always extract into a new folder</source>
        <translation>Immer in einen neuen Ordner entpacken</translation>
    </message>
    <message>
        <source>Archives are extracted next to the original. Existing files are never replaced.</source>
        <translation>Archive werden neben dem Original entpackt. Vorhandene Dateien werden nie ersetzt.</translation>
    </message>
    <message>
        <source>Extraction</source>
        <translation>Entpacken</translation>
    </message>
    <message>
        <source>After extracting</source>
        <translation>Nach dem Entpacken</translation>
    </message>
    <message>
        <source>Archive after extracting</source>
        <translation>Archiv nach dem Entpacken</translation>
    </message>
    <message>
        <source>Version %1</source>
        <translation>Version %1</translation>
    </message>
    <message>
        <source>Acknowledgements…</source>
        <translation>Danksagungen …</translation>
    </message>
    <message>
        <source>About %1</source>
        <translation>Über %1</translation>
    </message>
    <message>
        <source>%1 opens .rar files.</source>
        <translation>%1 öffnet .rar-Dateien.</translation>
    </message>
    <message>
        <source>%1 is not the default app for .rar files.</source>
        <translation>%1 ist nicht die Standard-App für .rar-Dateien.</translation>
    </message>
    <message>
        <source>Currently opened with %1.</source>
        <translation>Derzeit geöffnet mit %1.</translation>
    </message>
    <message>
        <source>Set as Default for All</source>
        <translation>Für alle als Standard festlegen</translation>
    </message>
    <message>
        <source>Archive Types</source>
        <translation>Archivtypen</translation>
    </message>
    <message>
        <source>%1 opens all the archive types it supports.</source>
        <translation>%1 öffnet alle unterstützten Archivtypen.</translation>
    </message>
    <message>
        <source>%1 opens %2 of the %3 archive types it supports.</source>
        <translation>%1 öffnet %2 der %3 unterstützten Archivtypen.</translation>
    </message>
    <message>
        <source>No default app</source>
        <translation>Keine Standard-App</translation>
    </message>
</context>
<context>
    <name>tovani::SettingsWindowController</name>
    <message>
        <source>%1 Settings</source>
        <translation>%1 – Einstellungen</translation>
    </message>
</context>
</TS>
