#include "UI/ErrorPresenter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include "UI/ErrorMessage.h"
#include "UI/ModalSession.h"
#include "UI/SkippedEntriesMessage.h"

namespace tovani::ErrorPresenter {
namespace {

class Texts {
    Q_DECLARE_TR_FUNCTIONS(ErrorPresenter)
};

QString fileName(const std::filesystem::path& archive) {
    return QFile::decodeName(archive.filename().c_str());
}

// Names and paths from archives are shown as they stand, never as markup.
void configure(QMessageBox& box, QMessageBox::Icon icon, const QString& title,
               const QString& detail) {
    box.setIcon(icon);
    box.setWindowTitle(QCoreApplication::applicationName());
    box.setTextFormat(Qt::PlainText);
    box.setText(title);
    box.setInformativeText(detail);
    // The title stands out from the detail, as in the password prompt.
    if (auto* main = box.findChild<QLabel*>("qt_msgbox_label")) {
        QFont bold = main->font();
        bold.setBold(true);
        main->setFont(bold);
    }
    // QMessageBox guesses the format of its informative text by itself.
    if (auto* informative = box.findChild<QLabel*>("qt_msgbox_informativelabel")) {
        informative->setTextFormat(Qt::PlainText);
        // A sentence or two per line, as a desktop alert reads, not a column.
        informative->setMinimumWidth(320);
    }
}

std::optional<std::filesystem::path> chooseFolder(const std::filesystem::path& archive) {
    // Qt's own dialog, so that the accept button and the message show the
    // same everywhere.
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setLabelText(QFileDialog::Accept, Texts::tr("Extract Here"));
    dialog.setWindowTitle(Texts::tr("Choose where to extract “%1”.").arg(fileName(archive)));
    // Opens next to the archive, never in the app's working directory.
    const QString start = QFile::decodeName(archive.parent_path().c_str());
    dialog.setDirectory(start);
    if (runModal(dialog) != QDialog::Accepted) {
        return std::nullopt;
    }
    // Accepting without choosing anything gives back the folder the dialog
    // opened on, the one that just failed: that is no choice.
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.first().isEmpty() || QDir(chosen.first()) == QDir(start)) {
        return std::nullopt;
    }
    return std::filesystem::path(QFile::encodeName(chosen.first()).toStdString());
}

}  // namespace

std::optional<std::filesystem::path> present(const std::exception& error,
                                             const std::filesystem::path& archive) {
    const ErrorMessage message = errorMessage(error, fileName(archive));
    QMessageBox box;
    configure(box, QMessageBox::Warning, message.title, message.detail);
    QPushButton* choose = nullptr;
    if (message.offersFolderChoice) {
        choose = box.addButton(Texts::tr("Choose Folder…"), QMessageBox::AcceptRole);
        QPushButton* cancel = box.addButton(Texts::tr("Cancel"), QMessageBox::RejectRole);
        box.setDefaultButton(choose);
        box.setEscapeButton(cancel);
    }
    runModal(box);
    if (choose != nullptr && box.clickedButton() == choose) {
        return chooseFolder(archive);
    }
    return std::nullopt;
}

void presentSkipped(const std::vector<SkippedEntry>& skipped,
                    const std::filesystem::path& archive) {
    const std::optional<SkippedEntriesMessage> message =
        skippedEntriesMessage(skipped, fileName(archive));
    if (!message) {
        return;
    }
    QMessageBox box;
    configure(box, QMessageBox::Information, message->title, message->detail);
    runModal(box);
}

}  // namespace tovani::ErrorPresenter
