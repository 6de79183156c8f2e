#include "UI/ErrorPresenter.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <stdexcept>

#include "TovaniCore/ExtractionError.h"
#include "UI/DockPresence.h"
#include "UI/ErrorMessage.h"
#include "UI/SkippedEntriesMessage.h"
#include "UiTestSupport.h"
#include "support/TempDirectory.h"

namespace tovani {
namespace {

using testing::clickButton;
using testing::onNextModal;

struct AlertSeen {
    QString className;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString text;
    QString informative;
    QStringList buttons;
    QString defaultButton;
};

AlertSeen look(QWidget& widget) {
    AlertSeen seen;
    seen.className = widget.metaObject()->className();
    if (auto* box = qobject_cast<QMessageBox*>(&widget)) {
        seen.icon = box->icon();
        seen.text = box->text();
        seen.informative = box->informativeText();
        for (QAbstractButton* button : box->buttons()) {
            seen.buttons << button->text().remove('&');
        }
        seen.buttons.sort();
        if (box->defaultButton() != nullptr) {
            seen.defaultButton = box->defaultButton()->text().remove('&');
        }
    }
    return seen;
}

class ErrorPresenterTest : public ::testing::Test {
protected:
    void SetUp() override { testing::ensureApplication(); }

    tovani::testing::TempDirectory dir;
};

TEST_F(ErrorPresenterTest, UnwritableDestinationOffersAFolderChoice) {
    const std::filesystem::path archive = dir / "movie.part1.rar";
    const auto error = ExtractionError::destinationNotWritable(dir / "locked");
    const ErrorMessage expected = errorMessage(error, "movie.part1.rar");
    AlertSeen seen;
    onNextModal([&](QWidget& alert) {
        seen = look(alert);
        testing::savePicture(alert, "alert-destination-not-writable");
        clickButton(alert, "Cancel");
    });
    EXPECT_EQ(ErrorPresenter::present(error, archive), std::nullopt);
    EXPECT_EQ(seen.className, "QMessageBox");
    EXPECT_EQ(seen.icon, QMessageBox::Warning);
    EXPECT_EQ(seen.text, expected.title);
    EXPECT_EQ(seen.informative, expected.detail);
    EXPECT_EQ(seen.buttons, QStringList({"Cancel", "Choose Folder…"}));
    EXPECT_EQ(seen.defaultButton, "Choose Folder…");
    EXPECT_EQ(DockPresence::activationPolicy(), DockPresence::ActivationPolicy::accessory);
}

TEST_F(ErrorPresenterTest, OtherFailuresHaveTheSingleDefaultButton) {
    const std::filesystem::path archive = dir / "a.rar";
    const ExtractionError extractionErrors[] = {
        ExtractionError::notAnArchive(), ExtractionError::damaged(std::nullopt),
        ExtractionError::unsafePath("../x"), ExtractionError::writeFailed("f", 13),
        ExtractionError::wrongPassword()};
    const std::runtime_error platformError("The volume was unmounted.");
    std::vector<const std::exception*> errors;
    for (const ExtractionError& error : extractionErrors) {
        errors.push_back(&error);
    }
    errors.push_back(&platformError);

    for (const std::exception* error : errors) {
        AlertSeen seen;
        onNextModal([&](QWidget& alert) {
            seen = look(alert);
            clickButton(alert, "OK");
        });
        EXPECT_EQ(ErrorPresenter::present(*error, archive), std::nullopt) << error->what();
        EXPECT_EQ(seen.icon, QMessageBox::Warning) << error->what();
        EXPECT_EQ(seen.buttons, QStringList({"OK"})) << error->what();
        EXPECT_EQ(seen.text, errorMessage(*error, "a.rar").title) << error->what();
        EXPECT_EQ(seen.informative, errorMessage(*error, "a.rar").detail) << error->what();
    }
}

TEST_F(ErrorPresenterTest, ChosenFolderIsReturned) {
    const std::filesystem::path archive = dir / "photos.rar";
    const std::filesystem::path other = dir / "other place";
    std::filesystem::create_directory(other);
    QString accept, title;
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    const auto choose = [&](QWidget& panel) {
        auto* dialog = qobject_cast<QFileDialog*>(&panel);
        if (dialog == nullptr) {
            ADD_FAILURE() << "not a folder dialog: " << panel.metaObject()->className();
            return;
        }
        accept = dialog->labelText(QFileDialog::Accept);
        title = dialog->windowTitle();
        mode = dialog->fileMode();
        testing::savePicture(panel, "folder-dialog");
        dialog->setDirectory(QString::fromStdString(dir.path().string()));
        dialog->selectFile(QString::fromStdString(other.string()));
        clickButton(panel, "Extract Here");
    };
    onNextModal([&](QWidget& alert) {
        onNextModal(choose);
        clickButton(alert, "Choose Folder…");
    });
    const auto chosen =
        ErrorPresenter::present(ExtractionError::destinationNotWritable(dir / "locked"), archive);
    EXPECT_EQ(chosen, std::optional<std::filesystem::path>(other));
    EXPECT_EQ(accept, "Extract Here");
    // The message names the archive, not the folder that failed.
    EXPECT_EQ(title, "Choose where to extract “photos.rar”.");
    EXPECT_EQ(mode, QFileDialog::Directory);
}

TEST_F(ErrorPresenterTest, FolderDialogOpensNextToTheArchiveAndNothingChosenIsNothing) {
    const std::filesystem::path folder = dir / "downloads";
    std::filesystem::create_directory(folder);
    QString opened;
    onNextModal([&](QWidget& alert) {
        onNextModal([&](QWidget& panel) {
            if (auto* dialog = qobject_cast<QFileDialog*>(&panel)) {
                opened = dialog->directory().absolutePath();
            }
            clickButton(panel, "Extract Here");
        });
        clickButton(alert, "Choose Folder…");
    });
    EXPECT_EQ(
        ErrorPresenter::present(ExtractionError::destinationNotWritable(folder), folder / "a.rar"),
        std::nullopt);
    EXPECT_EQ(opened.toStdString(), folder.string());
}

TEST_F(ErrorPresenterTest, CancelledFolderDialogReturnsNothing) {
    onNextModal([](QWidget& alert) {
        onNextModal([](QWidget& panel) {
            if (auto* dialog = qobject_cast<QFileDialog*>(&panel)) {
                dialog->reject();
            }
        });
        clickButton(alert, "Choose Folder…");
    });
    EXPECT_EQ(ErrorPresenter::present(ExtractionError::destinationNotWritable(dir / "locked"),
                                      dir / "a.rar"),
              std::nullopt);
}

TEST_F(ErrorPresenterTest, SkippedEntriesAlertIsInformational) {
    const std::vector<SkippedEntry> skipped = {
        {.path = "link-out", .reason = SkippedEntry::Reason::unsafeLinkTarget},
        {.path = "dir/link2", .reason = SkippedEntry::Reason::unreadableLinkTarget}};
    const auto expected = skippedEntriesMessage(skipped, "set.rar");
    ASSERT_TRUE(expected.has_value());
    AlertSeen seen;
    onNextModal([&](QWidget& alert) {
        seen = look(alert);
        testing::savePicture(alert, "alert-skipped-entries");
        clickButton(alert, "OK");
    });
    ErrorPresenter::presentSkipped(skipped, dir / "set.rar");
    EXPECT_EQ(seen.icon, QMessageBox::Information);
    EXPECT_EQ(seen.buttons, QStringList({"OK"}));
    EXPECT_EQ(seen.text, expected->title);
    EXPECT_EQ(seen.informative, expected->detail);
}

TEST_F(ErrorPresenterTest, NothingSkippedShowsNoAlert) {
    bool alertShown = false;
    // Should an alert appear anyway, close it so that the test ends.
    QTimer guard;
    QObject::connect(&guard, &QTimer::timeout, [&] {
        if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            alertShown = true;
            modal->reject();
        }
    });
    guard.start(20);
    ErrorPresenter::presentSkipped({}, dir / "a.rar");
    EXPECT_FALSE(alertShown);
}

TEST_F(ErrorPresenterTest, ArchiveNamesAreShownAsPlainText) {
    Qt::TextFormat format = Qt::RichText;
    QStringList informativeFormats;
    onNextModal([&](QWidget& alert) {
        format = qobject_cast<QMessageBox*>(&alert)->textFormat();
        for (QLabel* label : alert.findChildren<QLabel*>()) {
            if (label->text().contains("<b>")) {
                informativeFormats << QString::number(label->textFormat());
            }
        }
        clickButton(alert, "OK");
    });
    ErrorPresenter::present(ExtractionError::damaged("<b>bold</b>"), dir / "<i>x</i>.rar");
    EXPECT_EQ(format, Qt::PlainText);
    EXPECT_EQ(informativeFormats, QStringList({QString::number(Qt::PlainText)}));
}

}  // namespace
}  // namespace tovani
