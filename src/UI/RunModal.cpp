#include "UI/RunModal.h"

#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <QWindow>

#include "UI/DockPresence.h"

namespace tovani {
namespace {

QPointer<QWidget>& anchor() {
    static QPointer<QWidget> window;
    return window;
}

}  // namespace

void setDialogAnchor(QWidget* window) {
    anchor() = window;
}

int runModal(QDialog& dialog) {
    DockPresence::setActivationPolicy(DockPresence::ActivationPolicy::regular);
    // A dialog transient for the visible progress window stays above it.
    QWidget* over = anchor();
    if (over != nullptr && over->isVisible() && dialog.parentWidget() == nullptr) {
        dialog.winId();
        if (QWindow* handle = dialog.windowHandle()) {
            handle->setTransientParent(over->windowHandle());
        }
    }
    // Modality has to be set before the dialog is shown; exec() then keeps
    // the already visible dialog and runs its loop.
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.show();
    dialog.raise();
    dialog.activateWindow();
    // A window manager may drop an activation asked for before the dialog
    // was mapped; ask again for a short while until the dialog has the focus.
    auto* retry = new QTimer(&dialog);
    retry->setInterval(100);
    QObject::connect(retry, &QTimer::timeout, &dialog, [&dialog, retry, left = 20]() mutable {
        if (dialog.isActiveWindow() || !dialog.isVisible() || --left <= 0) {
            retry->stop();
            retry->deleteLater();
            return;
        }
        dialog.raise();
        dialog.activateWindow();
    });
    retry->start();
    const int result = dialog.exec();
    DockPresence::refresh();
    return result;
}

}  // namespace tovani
