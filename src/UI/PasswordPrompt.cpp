#include "UI/PasswordPrompt.h"

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "UI/ModalSession.h"

namespace tovani::PasswordPrompt {
namespace {

class Texts {
    Q_DECLARE_TR_FUNCTIONS(PasswordPrompt)
};

struct Prompt {
    QDialog dialog;
    QLineEdit* field = nullptr;
};

QLabel* alertIcon(QWidget* parent) {
    QIcon icon = QApplication::windowIcon();
    if (icon.isNull()) {
        icon = parent->style()->standardIcon(QStyle::SP_MessageBoxQuestion);
    }
    auto* label = new QLabel(parent);
    label->setPixmap(icon.pixmap(48, 48));
    label->setAlignment(Qt::AlignTop);
    return label;
}

void build(Prompt& prompt, const PasswordRequest& request) {
    QDialog& dialog = prompt.dialog;
    dialog.setWindowTitle(QCoreApplication::applicationName());

    auto* message = new QLabel(
        Texts::tr("Enter the password for “%1”.").arg(QString::fromStdString(request.archiveName)),
        &dialog);
    // The archive's name is shown as it stands, never read as markup.
    message->setTextFormat(Qt::PlainText);
    QFont bold = message->font();
    bold.setBold(true);
    message->setFont(bold);
    message->setWordWrap(true);
    // Wide enough that a usual archive name fits on the first line.
    message->setMinimumWidth(320);
    message->setObjectName("messageLabel");

    auto* informative =
        new QLabel(request.isRetry ? Texts::tr("Incorrect password. Try again.")
                                   : Texts::tr("This archive is protected with a password."),
                   &dialog);
    informative->setTextFormat(Qt::PlainText);
    informative->setWordWrap(true);
    informative->setObjectName("informativeLabel");

    prompt.field = new QLineEdit(&dialog);
    prompt.field->setEchoMode(QLineEdit::Password);
    prompt.field->setPlaceholderText(Texts::tr("Password"));
    prompt.field->setFixedWidth(260);
    prompt.field->setObjectName("passwordField");

    auto* reveal = new QCheckBox(Texts::tr("Show password"), &dialog);
    reveal->setObjectName("showPasswordCheckBox");
    QLineEdit* field = prompt.field;
    QObject::connect(reveal, &QCheckBox::toggled, field, [field](bool shown) {
        field->setEchoMode(shown ? QLineEdit::Normal : QLineEdit::Password);
        field->setFocus();
    });

    auto* buttons = new QDialogButtonBox(&dialog);
    QPushButton* ok = buttons->addButton(Texts::tr("OK"), QDialogButtonBox::AcceptRole);
    buttons->addButton(Texts::tr("Cancel"), QDialogButtonBox::RejectRole);
    ok->setDefault(true);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);

    auto* column = new QVBoxLayout;
    column->setSpacing(8);
    column->addWidget(message);
    column->addWidget(informative);
    column->addSpacing(4);
    column->addWidget(prompt.field, 0, Qt::AlignLeft);
    column->addWidget(reveal, 0, Qt::AlignLeft);
    column->addSpacing(8);
    column->addWidget(buttons);

    auto* layout = new QHBoxLayout(&dialog);
    layout->setContentsMargins(20, 20, 20, 16);
    layout->setSpacing(16);
    layout->addWidget(alertIcon(&dialog), 0, Qt::AlignTop);
    layout->addLayout(column, 1);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // Typing goes into the field as soon as the dialog is up.
    prompt.field->setFocus();
    dialog.setObjectName("passwordPrompt");
}

}  // namespace

std::optional<std::string> run(const PasswordRequest& request) {
    Prompt prompt;
    build(prompt, request);
    for (;;) {
        if (runModal(prompt.dialog) != QDialog::Accepted) {
            return std::nullopt;
        }
        const QString text = prompt.field->text();
        if (!text.isEmpty()) {
            return text.toStdString();
        }
        prompt.field->setFocus();
    }
}

}  // namespace tovani::PasswordPrompt
