// isOrdinaryWindow tells the app's windows from what comes and goes on screen
// without being one: menus, tool tips, splash screens and the parentless menu
// bar. The rules "quit when the last window closes", "show in the dock while a
// window is up" and "give every window the menu's shortcuts" all count these.
//
//   for (QWidget* window : QApplication::topLevelWidgets()) {
//       if (window->isVisible() && isOrdinaryWindow(*window)) { ... }
//   }
#pragma once

class QWidget;

namespace tovani {

bool isOrdinaryWindow(const QWidget& widget);

}  // namespace tovani
