#include "Settings/AcknowledgementsView.h"

#include <QFile>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringDecoder>
#include <QVBoxLayout>

#include "Settings/AppResources.h"

namespace tovani {
namespace {

QString readLicense() {
    AppResources::initialize();
    QFile file(AppResources::licensePath);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QByteArray bytes = file.readAll();
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        return {};
    }
    return text;
}

}  // namespace

const QString& AcknowledgementsView::license() {
    static const QString text = readLicense();
    return text;
}

AcknowledgementsView::AcknowledgementsView(QWidget* parent) : QDialog(parent, Qt::Sheet) {
    setWindowModality(Qt::WindowModal);
    setWindowTitle(tr("Acknowledgements"));
    setFixedSize(width, height);

    auto* headline = new QLabel(tr("Acknowledgements"), this);
    QFont headlineFont = headline->font();
    headlineFont.setBold(true);
    headline->setFont(headlineFont);
    headline->setObjectName("headlineLabel");

    auto* credit = new QLabel(tr("RAR archives are unpacked with the UnRAR source code by "
                                 "Varnholt, used under the following license."),
                              this);
    credit->setWordWrap(true);
    credit->setObjectName("creditLabel");

    // Read-only but selectable, so that the licence can be copied; shown as
    // it stands, never translated.
    licenseView_ = new QPlainTextEdit(this);
    licenseView_->setObjectName("licenseView");
    licenseView_->setReadOnly(true);
    licenseView_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    licenseView_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    licenseView_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // 11 against a body text of 13: a little smaller than the other texts,
    // whatever size the desktop gives them.
    // Asks for fixed pitch outright as well, so that a desktop whose
    // monospace family resolves oddly still gets a fixed-pitch face.
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setStyleHint(QFont::TypeWriter);
    mono.setFixedPitch(true);
    mono.setPointSizeF(font().pointSizeF() * 11.0 / 13.0);
    licenseView_->setFont(mono);
    licenseView_->document()->setDocumentMargin(10);
    licenseView_->setStyleSheet(QStringLiteral(
        "QPlainTextEdit#licenseView { background: palette(base); border: 1px solid palette(mid);"
        " border-radius: 6px; }"));
    licenseView_->setPlainText(license());

    doneButton_ = new QPushButton(tr("Done"), this);
    doneButton_->setObjectName("doneButton");
    doneButton_->setDefault(true);
    connect(doneButton_, &QPushButton::clicked, this, &QDialog::accept);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(doneButton_);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(12);
    column->addWidget(headline);
    column->addWidget(credit);
    column->addWidget(licenseView_, 1);
    column->addLayout(buttons);
}

void AcknowledgementsView::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Each presentation starts at the top of the licence.
    licenseView_->moveCursor(QTextCursor::Start);
    doneButton_->setFocus();
}

}  // namespace tovani
