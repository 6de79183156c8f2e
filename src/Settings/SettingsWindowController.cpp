#include "Settings/SettingsWindowController.h"

#include <QCoreApplication>
#include <QIcon>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>

#include "Settings/AppResources.h"
#include "Settings/DefaultAppStatus.h"
#include "Settings/SettingsView.h"
#include "UI/DockPresence.h"

namespace tovani {

SettingsWindowController::SettingsWindowController(AppSettings& settings, QObject* parent)
    : SettingsWindowController(settings, new DefaultAppStatus, parent) {}

SettingsWindowController::SettingsWindowController(AppSettings& settings,
                                                   DefaultAppStatus* defaultApp, QObject* parent)
    : QObject(parent), defaultApp_(defaultApp) {
    defaultApp_->setParent(this);
    AppResources::initialize();

    // Titled, closable and minimisable; the size follows the content.
    window_ = new QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                       Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                                       Qt::WindowCloseButtonHint);
    window_->setObjectName("settingsWindow");
    window_->setAttribute(Qt::WA_DeleteOnClose, false);
    window_->setWindowTitle(tr("%1 Settings").arg(QCoreApplication::applicationName()));
    window_->setWindowIcon(QIcon(AppResources::iconPath));

    view_ = new SettingsView(settings, *defaultApp_, window_);
    auto* layout = new QVBoxLayout(window_);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_);
    connect(view_, &SettingsView::contentHeightChanged, this, &SettingsWindowController::fitHeight);
    fitHeight();

    // Centred on the primary screen, where it first appears.
    if (QScreen* screen = window_->screen()) {
        QRect frame = window_->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window_->move(frame.topLeft());
    }
}

SettingsWindowController::~SettingsWindowController() {
    delete window_;
}

void SettingsWindowController::show() {
    defaultApp_->refresh();
    DockPresence::setActivationPolicy(DockPresence::ActivationPolicy::regular);
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void SettingsWindowController::fitHeight() {
    // As tall as the form needs at its fixed width, never resizable. A line
    // that just appeared or changed is not yet in the sizes that the layouts
    // and their items keep for the sections, so those are dropped first.
    for (QWidget* child : view_->findChildren<QWidget*>()) {
        child->updateGeometry();
    }
    for (QLayout* layout : view_->findChildren<QLayout*>()) {
        layout->invalidate();
    }
    const int height = view_->layout()->totalHeightForWidth(SettingsView::width);
    window_->setFixedSize(SettingsView::width,
                          height > 0 ? height : view_->layout()->totalSizeHint().height());
}

}  // namespace tovani
