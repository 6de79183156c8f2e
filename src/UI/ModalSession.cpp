#include "UI/ModalSession.h"

#include <QDialog>

#include "UI/DockPresence.h"

namespace tovani {

int runModal(QDialog& dialog) {
    DockPresence::setActivationPolicy(DockPresence::ActivationPolicy::regular);
    // Modality has to be set before the dialog is shown; exec() then keeps
    // the already visible dialog and runs its loop.
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.show();
    dialog.raise();
    dialog.activateWindow();
    const int result = dialog.exec();
    DockPresence::refresh();
    return result;
}

}  // namespace tovani
