// MainMenu builds the app's menu bar: the application menu (About, Settings…,
// Quit), Edit (Cut, Copy, Paste, Select All) and Window (Close), with their
// Ctrl (Command on macOS) shortcuts. install() makes it the main menu; on
// Linux, where no window shows it, its shortcuts are added to every top-level
// window the app shows, so Ctrl+, Ctrl+Q and Ctrl+W work in each of them.
//
//   std::unique_ptr<QMenuBar> menu = MainMenu::make("Ostrel", [this] { showSettings(); });
//   MainMenu::install(*menu);
#pragma once

#include <QString>
#include <functional>
#include <memory>

class QMenuBar;

namespace tovani::MainMenu {

// A new, parentless menu bar. showSettings runs for "Settings…"; Quit asks
// the application to quit; the edit items act on the focused text widget;
// Close closes the active window when it has a close control.
std::unique_ptr<QMenuBar> make(const QString& appName, std::function<void()> showSettings);

// Makes the menu bar's actions reachable from every top-level window, those
// shown later included, for as long as the menu bar exists.
void install(QMenuBar& menuBar);

// The About box, as the application menu's "About {appName}" shows it; also
// reachable from the settings window, since Linux shows no menu bar.
void showAbout(const QString& appName);

}  // namespace tovani::MainMenu
