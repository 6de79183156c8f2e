#include "Settings/SettingsView.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "Settings/AcknowledgementsView.h"
#include "Settings/AppSettings.h"
#include "Settings/ArchiveTypes.h"
#include "Settings/DefaultAppStatus.h"
#include "UI/MainMenu.h"

namespace tovani {
namespace {

constexpr int kStatusIconSize = 24;
constexpr int kTypeMarkSize = 16;

// The check mark when Ostrel is the default; otherwise a neutral mark.
QIcon statusMark(bool isDefault, const QStyle* style) {
    return isDefault ? QIcon::fromTheme(QStringLiteral("emblem-default"),
                                        style->standardIcon(QStyle::SP_DialogApplyButton))
                     : QIcon::fromTheme(QStringLiteral("dialog-information"),
                                        style->standardIcon(QStyle::SP_MessageBoxInformation));
}

void makeCallout(QLabel* label) {
    QFont callout = label->font();
    callout.setPointSizeF(callout.pointSizeF() * 0.92);
    label->setFont(callout);
}

// Secondary text: the palette's colour for text of lesser weight.
void makeSecondary(QLabel* label) {
    label->setForegroundRole(QPalette::PlaceholderText);
}

QFrame* separator(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setForegroundRole(QPalette::Midlight);
    return line;
}

// A grouped-form section: an optional header above a rounded box of rows
// (separated by thin lines), and an optional footer below it.
QWidget* section(QWidget* parent, const QString& header, const QList<QLayout*>& rows,
                 QLabel* footer = nullptr) {
    auto* widget = new QWidget(parent);
    auto* column = new QVBoxLayout(widget);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);

    if (!header.isEmpty()) {
        auto* title = new QLabel(header, widget);
        QFont font = title->font();
        font.setBold(true);
        title->setFont(font);
        title->setContentsMargins(4, 0, 0, 0);
        column->addWidget(title);
    }

    auto* box = new QFrame(widget);
    box->setObjectName("formSection");
    box->setStyleSheet(
        QStringLiteral("QFrame#formSection { background-color: palette(base);"
                       " border: 1px solid palette(mid); border-radius: 8px; }"));
    auto* boxColumn = new QVBoxLayout(box);
    boxColumn->setContentsMargins(12, 8, 12, 8);
    boxColumn->setSpacing(8);
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (i > 0) {
            boxColumn->addWidget(separator(box));
        }
        boxColumn->addLayout(rows[i]);
    }
    column->addWidget(box);

    if (footer != nullptr) {
        footer->setParent(widget);
        footer->setWordWrap(true);
        footer->setContentsMargins(4, 0, 4, 0);
        footer->setAlignment(Qt::AlignLeading | Qt::AlignTop);
        makeSecondary(footer);
        column->addWidget(footer);
    }
    return widget;
}

QHBoxLayout* pickerRow(QWidget* parent, const QString& title, QComboBox* picker) {
    auto* row = new QHBoxLayout;
    auto* label = new QLabel(title, parent);
    label->setBuddy(picker);
    row->addWidget(label);
    row->addStretch();
    row->addWidget(picker);
    return row;
}

QComboBox* picker(QWidget* parent, const QString& objectName, const QString& whenFalse,
                  const QString& whenTrue) {
    auto* box = new QComboBox(parent);
    box->setObjectName(objectName);
    box->addItem(whenFalse, false);
    box->addItem(whenTrue, true);
    return box;
}

void select(QComboBox* box, bool value) {
    const QSignalBlocker blocker(box);
    box->setCurrentIndex(box->findData(value));
}

}  // namespace

SettingsView::SettingsView(AppSettings& settings, DefaultAppStatus& defaultApp, QWidget* parent)
    : QWidget(parent), settings_(settings), defaultApp_(defaultApp) {
    setFixedWidth(width);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(18);
    column->addWidget(makeStatusSection());
    column->addWidget(makeExtractionSection());
    column->addWidget(makeAboutSection());
    column->addStretch();

    acknowledgements_ = new AcknowledgementsView(this);
    connect(acknowledgements_, &QDialog::finished, this,
            [this] { showsAcknowledgements_ = false; });

    connect(&settings_, &AppSettings::revealInFinderChanged, this,
            &SettingsView::updatePreferences);
    connect(&settings_, &AppSettings::moveArchiveToTrashChanged, this,
            &SettingsView::updatePreferences);
    connect(&settings_, &AppSettings::alwaysCreateFolderChanged, this,
            &SettingsView::updatePreferences);
    connect(&defaultApp_, &DefaultAppStatus::isDefaultChanged, this, &SettingsView::updateStatus);
    connect(&defaultApp_, &DefaultAppStatus::currentHandlerNameChanged, this,
            &SettingsView::updateStatus);
    connect(&defaultApp_, &DefaultAppStatus::refreshed, this, &SettingsView::updateStatus);

    // A default changed elsewhere (in the file manager, say) shows as soon
    // as the user comes back to the app.
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) {
                if (state == Qt::ApplicationActive) {
                    defaultApp_.refresh();
                }
            });

    updateStatus();
    updatePreferences();
}

QWidget* SettingsView::makeStatusSection() {
    statusIcon_ = new QLabel(this);
    statusIcon_->setObjectName("statusIcon");
    statusIcon_->setFixedSize(kStatusIconSize, kStatusIconSize);

    statusTitle_ = new QLabel(this);
    statusTitle_->setObjectName("statusTitle");
    statusTitle_->setWordWrap(true);

    handlerLine_ = new QLabel(this);
    handlerLine_->setObjectName("handlerLine");
    // Names another app by its desktop file's Name=, shown as it stands.
    handlerLine_->setTextFormat(Qt::PlainText);
    handlerLine_->setWordWrap(true);
    makeCallout(handlerLine_);
    makeSecondary(handlerLine_);

    setDefaultButton_ = new QPushButton(tr("Set as Default"), this);
    setDefaultButton_->setObjectName("setDefaultButton");
    setDefaultButton_->setAutoDefault(false);
    connect(setDefaultButton_, &QPushButton::clicked, &defaultApp_, &DefaultAppStatus::makeDefault);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(statusTitle_);
    texts->addWidget(handlerLine_);

    auto* row = new QHBoxLayout;
    row->setSpacing(10);
    row->addWidget(statusIcon_, 0, Qt::AlignVCenter);
    row->addLayout(texts, 1);
    row->addWidget(setDefaultButton_, 0, Qt::AlignVCenter);
    return section(this, tr("Default App"), {row, makeTypesRow()});
}

QLayout* SettingsView::makeTypesRow() {
    typesSummary_ = new QLabel(this);
    typesSummary_->setObjectName("typesSummary");
    typesSummary_->setWordWrap(true);

    setDefaultForAllButton_ = new QPushButton(tr("Set as Default for All"), this);
    setDefaultForAllButton_->setObjectName("setDefaultForAllButton");
    setDefaultForAllButton_->setAutoDefault(false);
    connect(setDefaultForAllButton_, &QPushButton::clicked, &defaultApp_,
            &DefaultAppStatus::makeDefaultForAll);

    // Folded at first: the list is long, and most users only need the count.
    typesToggle_ = new QToolButton(this);
    typesToggle_->setObjectName("typesToggle");
    typesToggle_->setText(tr("Archive Types"));
    typesToggle_->setCheckable(true);
    typesToggle_->setAutoRaise(true);
    // A disclosure, not a button that stays pressed.
    typesToggle_->setStyleSheet(QStringLiteral("QToolButton { border: none; }"));
    typesToggle_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    typesToggle_->setArrowType(Qt::RightArrow);

    typeList_ = new QWidget(this);
    typeList_->setObjectName("typeList");
    auto* grid = new QGridLayout(typeList_);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(2);
    grid->setColumnStretch(1, 1);
    for (const ArchiveType& type : archiveTypes()) {
        TypeRow row{new QLabel(typeList_), new QLabel(readableName(type), typeList_),
                    new QLabel(typeList_)};
        row.mark->setFixedSize(kTypeMarkSize, kTypeMarkSize);
        row.name->setProperty("mimeType", type.name);
        // Names another app by its desktop file's Name=, shown as it stands.
        row.handler->setTextFormat(Qt::PlainText);
        row.handler->setAlignment(Qt::AlignTrailing | Qt::AlignVCenter);
        for (QLabel* label : {row.name, row.handler}) {
            makeCallout(label);
        }
        makeSecondary(row.handler);
        const int line = grid->rowCount();
        grid->addWidget(row.mark, line, 0);
        grid->addWidget(row.name, line, 1);
        grid->addWidget(row.handler, line, 2);
        typeRows_.append(row);
    }
    typeList_->setHidden(true);
    connect(typesToggle_, &QToolButton::toggled, this, [this](bool unfolded) {
        typesToggle_->setArrowType(unfolded ? Qt::DownArrow : Qt::RightArrow);
        typeList_->setVisible(unfolded);
        emit contentHeightChanged();
    });

    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(typesSummary_);
    texts->addWidget(typesToggle_, 0, Qt::AlignLeading);

    auto* top = new QHBoxLayout;
    top->setSpacing(10);
    top->addSpacing(kStatusIconSize);
    top->addLayout(texts, 1);
    top->addWidget(setDefaultForAllButton_, 0, Qt::AlignTop);

    auto* column = new QVBoxLayout;
    column->setSpacing(6);
    column->addLayout(top);
    column->addWidget(typeList_);
    return column;
}

QWidget* SettingsView::makeExtractionSection() {
    revealPicker_ = picker(this, "revealPicker", tr("Do nothing"), tr("Show in File Manager"));
    connect(revealPicker_, &QComboBox::currentIndexChanged, this,
            [this] { settings_.setRevealInFinder(revealPicker_->currentData().toBool()); });
    trashPicker_ = picker(this, "trashPicker", tr("Keep"), tr("Move to Trash"));
    connect(trashPicker_, &QComboBox::currentIndexChanged, this,
            [this] { settings_.setMoveArchiveToTrash(trashPicker_->currentData().toBool()); });

    // Both pop-ups as wide as the wider one, so that they line up.
    const int pickerWidth =
        std::max(revealPicker_->sizeHint().width(), trashPicker_->sizeHint().width());
    revealPicker_->setMinimumWidth(pickerWidth);
    trashPicker_->setMinimumWidth(pickerWidth);

    folderToggle_ = new QCheckBox(tr("Always extract into a new folder"), this);
    folderToggle_->setObjectName("folderToggle");
    connect(folderToggle_, &QCheckBox::toggled, this,
            [this](bool checked) { settings_.setAlwaysCreateFolder(checked); });
    auto* toggleRow = new QHBoxLayout;
    toggleRow->addWidget(folderToggle_);

    auto* footer = new QLabel(
        tr("Archives are extracted next to the original. Existing files are never replaced."));
    footer->setObjectName("extractionFooter");
    return section(this, tr("Extraction"),
                   {pickerRow(this, tr("After extracting"), revealPicker_),
                    pickerRow(this, tr("Archive after extracting"), trashPicker_), toggleRow},
                   footer);
}

QWidget* SettingsView::makeAboutSection() {
    versionLabel_ = new QLabel(tr("Version %1").arg(QCoreApplication::applicationVersion()), this);
    versionLabel_->setObjectName("versionLabel");
    makeSecondary(versionLabel_);

    acknowledgementsButton_ = new QPushButton(tr("Acknowledgements…"), this);
    acknowledgementsButton_->setObjectName("acknowledgementsButton");
    acknowledgementsButton_->setAutoDefault(false);
    connect(acknowledgementsButton_, &QPushButton::clicked, this,
            &SettingsView::showAcknowledgements);

    aboutButton_ = new QPushButton(tr("About %1").arg(QCoreApplication::applicationName()), this);
    aboutButton_->setObjectName("aboutButton");
    aboutButton_->setAutoDefault(false);
    connect(aboutButton_, &QPushButton::clicked, this,
            [] { MainMenu::showAbout(QCoreApplication::applicationName()); });

    auto* row = new QHBoxLayout;
    row->addWidget(versionLabel_);
    row->addStretch();
    row->addWidget(aboutButton_);
    row->addWidget(acknowledgementsButton_);
    return section(this, QString(), {row});
}

void SettingsView::showAcknowledgements() {
    if (showsAcknowledgements_) {
        return;
    }
    showsAcknowledgements_ = true;
    acknowledgements_->open();
}

void SettingsView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    // The sheet belongs to the window: closing the window ends it, rather
    // than leaving it on screen alone. Minimising is not closing.
    if (!event->spontaneous() && showsAcknowledgements_) {
        acknowledgements_->reject();
    }
}

void SettingsView::updateStatus() {
    const QString appName = QCoreApplication::applicationName();
    const bool isDefault = defaultApp_.isDefault();

    // The check mark in full colour when Ostrel is the default; otherwise a
    // neutral mark, drawn greyed like secondary text.
    statusIcon_->setPixmap(
        statusMark(isDefault, style())
            .pixmap(kStatusIconSize, kStatusIconSize, isDefault ? QIcon::Normal : QIcon::Disabled));
    statusIcon_->setProperty("showsDefault", isDefault);

    statusTitle_->setText(isDefault ? tr("%1 opens .rar files.").arg(appName)
                                    : tr("%1 is not the default app for .rar files.").arg(appName));

    const QString handler = defaultApp_.currentHandlerName();
    handlerLine_->setText(handler.isEmpty() ? QString()
                                            : tr("Currently opened with %1.").arg(handler));
    handlerLine_->setHidden(handler.isEmpty());

    setDefaultButton_->setEnabled(!isDefault);
    updateTypes();
    emit contentHeightChanged();
}

void SettingsView::updateTypes() {
    const QString appName = QCoreApplication::applicationName();
    const QList<DefaultAppStatus::TypeStatus>& statuses = defaultApp_.typeStatuses();
    const auto opened = std::count_if(statuses.begin(), statuses.end(),
                                      [](const auto& status) { return status.isDefault; });
    typesSummary_->setText(
        defaultApp_.isDefaultForAll()
            ? tr("%1 opens all the archive types it supports.").arg(appName)
            : tr("%1 opens %2 of the %3 archive types it supports.")
                  .arg(appName, QString::number(opened), QString::number(statuses.size())));
    setDefaultForAllButton_->setEnabled(!defaultApp_.isDefaultForAll());

    for (qsizetype i = 0; i < typeRows_.size() && i < statuses.size(); ++i) {
        const DefaultAppStatus::TypeStatus& status = statuses[i];
        const TypeRow& row = typeRows_[i];
        row.mark->setPixmap(status.isDefault
                                ? statusMark(true, style()).pixmap(kTypeMarkSize, kTypeMarkSize)
                                : QPixmap());
        row.handler->setText(status.isDefault                ? appName
                             : !status.handlerName.isEmpty() ? status.handlerName
                                                             : tr("No default app"));
        row.handler->setProperty("showsDefault", status.isDefault);
    }
}

void SettingsView::updatePreferences() {
    select(revealPicker_, settings_.revealInFinder());
    select(trashPicker_, settings_.moveArchiveToTrash());
    const QSignalBlocker blocker(folderToggle_);
    folderToggle_->setChecked(settings_.alwaysCreateFolder());
}

}  // namespace tovani
