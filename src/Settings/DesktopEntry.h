// Finds installed desktop entries (freedesktop Desktop Entry files) by their
// desktop file id and reads their names, so that an application recorded as a
// default handler can be shown by name.
//
//   QString file = DesktopEntry::findFile("org.gnome.FileRoller.desktop");
//   QString name = DesktopEntry::name(file);  // "Archive Manager", or empty
//   QString exe = DesktopEntry::program(file);  // "/usr/bin/file-roller", or empty
#pragma once

#include <QString>
#include <QStringList>

namespace tovani::DesktopEntry {

// The "applications" directories in lookup order: $XDG_DATA_HOME (default
// ~/.local/share), then each of $XDG_DATA_DIRS (default
// /usr/local/share:/usr/share), each followed by "/applications".
QStringList applicationDirectories();

// The file that a desktop file id names, or empty text when there is none. An
// id maps to a path below an applications directory with each "-" standing for
// either itself or a subdirectory separator ("vendor-app.desktop" may be
// vendor/app.desktop); the first directory that holds a match wins.
QString findFile(const QString& desktopId);

// The untranslated Name= of the file's [Desktop Entry] group, with the
// escapes of string values resolved; empty text when the file cannot be read
// or has none.
QString name(const QString& filePath);

// The untranslated value of key in the file's [Desktop Entry] group, with
// the escapes of string values resolved; empty text when there is none.
QString value(const QString& filePath, const QString& key);

// The program that the file's Exec= starts, found through PATH when it is
// named without a folder, as the canonical path of an existing executable
// file; empty text when there is none.
QString program(const QString& filePath);

}  // namespace tovani::DesktopEntry
