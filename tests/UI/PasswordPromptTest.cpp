#include "UI/PasswordPrompt.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include "UI/DockPresence.h"
#include "UiTestSupport.h"

namespace tovani {
namespace {

using testing::clickButton;
using testing::onNextModal;

class PasswordPromptTest : public ::testing::Test {
protected:
    void SetUp() override { testing::ensureApplication(); }
};

QLineEdit* field(QWidget& dialog) {
    return dialog.findChild<QLineEdit*>("passwordField");
}

QString label(QWidget& dialog, const char* name) {
    return dialog.findChild<QLabel*>(name)->text();
}

// Types text into the field and confirms with Return, as a user would.
void typeAndConfirm(QWidget& dialog, const QString& text) {
    QTest::keyClicks(field(dialog), text);
    QTest::keyClick(field(dialog), Qt::Key_Return);
}

TEST_F(PasswordPromptTest, FirstRequestIsMaskedFocusedAndReturnsTheText) {
    QString message, informative, placeholder;
    QLineEdit::EchoMode echo = QLineEdit::Normal;
    bool focused = false;
    onNextModal([&](QWidget& dialog) {
        message = label(dialog, "messageLabel");
        informative = label(dialog, "informativeLabel");
        placeholder = field(dialog)->placeholderText();
        echo = field(dialog)->echoMode();
        focused =
            QTest::qWaitForWindowActive(&dialog) && QApplication::focusWidget() == field(dialog);
        testing::savePicture(dialog, "password-prompt");
        typeAndConfirm(dialog, "secret");
    });
    EXPECT_EQ(PasswordPrompt::run({.archiveName = "movie.part1.rar", .isRetry = false}),
              std::optional<std::string>("secret"));
    EXPECT_EQ(message, "Enter the password for “movie.part1.rar”.");
    EXPECT_EQ(informative, "This archive is protected with a password.");
    EXPECT_EQ(placeholder, "Password");
    EXPECT_EQ(echo, QLineEdit::Password);
    EXPECT_TRUE(focused);
}

TEST_F(PasswordPromptTest, RetryRequestSaysThePasswordWasWrong) {
    QString informative;
    onNextModal([&](QWidget& dialog) {
        informative = label(dialog, "informativeLabel");
        testing::savePicture(dialog, "password-prompt-retry");
        clickButton(dialog, "Cancel");
    });
    EXPECT_EQ(PasswordPrompt::run({.archiveName = "a.rar", .isRetry = true}), std::nullopt);
    EXPECT_EQ(informative, "Incorrect password. Try again.");
}

TEST_F(PasswordPromptTest, CancelReturnsNothingEvenWithTextTyped) {
    onNextModal([](QWidget& dialog) {
        QTest::keyClicks(field(dialog), "typed");
        clickButton(dialog, "Cancel");
    });
    EXPECT_EQ(PasswordPrompt::run({.archiveName = "a.rar"}), std::nullopt);
}

TEST_F(PasswordPromptTest, EscapeDeclines) {
    onNextModal([](QWidget& dialog) { QTest::keyClick(field(dialog), Qt::Key_Escape); });
    EXPECT_EQ(PasswordPrompt::run({.archiveName = "a.rar"}), std::nullopt);
}

TEST_F(PasswordPromptTest, EmptyConfirmationAsksAgainWithTheSameTexts) {
    int shown = 0;
    QString secondMessage, secondInformative, secondField = "unset";
    onNextModal([&](QWidget& dialog) {
        ++shown;
        clickButton(dialog, "OK");
        onNextModal([&](QWidget& again) {
            ++shown;
            secondMessage = label(again, "messageLabel");
            secondInformative = label(again, "informativeLabel");
            secondField = field(again)->text();
            typeAndConfirm(again, "pw");
        });
    });
    EXPECT_EQ(PasswordPrompt::run({.archiveName = "b.rar", .isRetry = true}),
              std::optional<std::string>("pw"));
    EXPECT_EQ(shown, 2);
    EXPECT_EQ(secondMessage, "Enter the password for “b.rar”.");
    EXPECT_EQ(secondInformative, "Incorrect password. Try again.");
    EXPECT_EQ(secondField, "");
}

TEST_F(PasswordPromptTest, EmptyConfirmationThenCancelReturnsNothing) {
    onNextModal([](QWidget& dialog) {
        clickButton(dialog, "OK");
        onNextModal([](QWidget& again) { clickButton(again, "Cancel"); });
    });
    EXPECT_EQ(PasswordPrompt::run({.archiveName = "a.rar"}), std::nullopt);
}

TEST_F(PasswordPromptTest, SpacesAndNonAsciiAreReturnedExactly) {
    onNextModal([](QWidget& dialog) { typeAndConfirm(dialog, "   "); });
    EXPECT_EQ(PasswordPrompt::run({.archiveName = "a.rar"}), std::optional<std::string>("   "));

    onNextModal([](QWidget& dialog) {
        // QTest types ASCII only; other characters arrive as key events with text.
        for (const QChar c : QString(" pässwörd ")) {
            QTest::sendKeyEvent(QTest::Click, field(dialog), Qt::Key_unknown, QString(c),
                                Qt::NoModifier);
        }
        QTest::keyClick(field(dialog), Qt::Key_Return);
    });
    EXPECT_EQ(PasswordPrompt::run({.archiveName = "a.rar"}),
              std::optional<std::string>(" p\xC3\xA4ssw\xC3\xB6rd "));
}

TEST_F(PasswordPromptTest, MarkupInTheArchiveNameIsShownAsTypedNeverRendered) {
    const std::string name = "<b>x</b><img src=\"/etc/passwd\">.rar";
    Qt::TextFormat format = Qt::RichText;
    QString text;
    onNextModal([&](QWidget& dialog) {
        auto* message = dialog.findChild<QLabel*>("messageLabel");
        format = message->textFormat();
        text = message->text();
        clickButton(dialog, "Cancel");
    });
    PasswordPrompt::run({.archiveName = name});
    EXPECT_EQ(format, Qt::PlainText);
    EXPECT_EQ(text, "Enter the password for “<b>x</b><img src=\"/etc/passwd\">.rar”.");
}

TEST_F(PasswordPromptTest, ShowPasswordUnmasksAndMasksAgainKeepingTheText) {
    QLineEdit::EchoMode shown = QLineEdit::Password, hiddenAgain = QLineEdit::Normal;
    QString typed;
    onNextModal([&](QWidget& dialog) {
        auto* reveal = dialog.findChild<QCheckBox*>("showPasswordCheckBox");
        ASSERT_NE(reveal, nullptr);
        EXPECT_EQ(reveal->text(), "Show password");
        EXPECT_FALSE(reveal->isChecked());
        QTest::keyClicks(field(dialog), "abc");
        reveal->click();
        shown = field(dialog)->echoMode();
        reveal->click();
        hiddenAgain = field(dialog)->echoMode();
        typed = field(dialog)->text();
        QTest::keyClick(field(dialog), Qt::Key_Return);
    });
    EXPECT_EQ(PasswordPrompt::run({.archiveName = "a.rar"}), std::optional<std::string>("abc"));
    EXPECT_EQ(shown, QLineEdit::Normal);
    EXPECT_EQ(hiddenAgain, QLineEdit::Password);
    EXPECT_EQ(typed, "abc");
}

TEST_F(PasswordPromptTest, DockPresenceIsRefreshedWhenTheDialogCloses) {
    onNextModal([](QWidget& dialog) {
        EXPECT_EQ(DockPresence::activationPolicy(), DockPresence::ActivationPolicy::regular);
        clickButton(dialog, "Cancel");
    });
    PasswordPrompt::run({.archiveName = "a.rar"});
    EXPECT_EQ(DockPresence::activationPolicy(), DockPresence::ActivationPolicy::accessory);
}

}  // namespace
}  // namespace tovani
