// runModal runs a dialog the way every alert and prompt of the app runs:
// the app becomes regular, the dialog comes to the front with the focus, and
// once it is gone DockPresence::refresh() restores the fitting policy.
//
//   QMessageBox box(QMessageBox::Warning, title, text);
//   runModal(box);
//   if (box.clickedButton() == chooseButton) ...
#pragma once

class QDialog;
class QWidget;

namespace tovani {

// Returns the dialog's exec() result.
int runModal(QDialog& dialog);

// A window that, while on screen, every dialog run by runModal is made
// transient for, so that the window manager keeps the dialog above it (the
// progress window). Held weakly; null clears it.
void setDialogAnchor(QWidget* window);

}  // namespace tovani
