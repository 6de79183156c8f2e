// Helpers for the widget tests: one QApplication for the whole test program,
// created on first use (gtest_main owns main), and a way to act on a modal
// dialog once it is on screen, since exec() blocks the test.
//
//   ensureApplication();
//   onNextModal([](QWidget& dialog) { clickButton(dialog, "Cancel"); });
//   auto answer = PasswordPrompt::run(request);  // returns after the click
#pragma once

#include <QString>
#include <functional>

class QAbstractButton;
class QWidget;

namespace tovani::testing {

void ensureApplication();

// Runs step with the active modal widget as soon as one is visible. When
// none shows up within a few seconds the test fails and nothing runs; a
// dialog still open a few seconds after step is rejected, so that a broken
// test ends instead of hanging.
void onNextModal(std::function<void(QWidget&)> step);

// The button of the dialog whose text (without mnemonic "&") is text, or null.
QAbstractButton* findButton(QWidget& dialog, const QString& text);
void clickButton(QWidget& dialog, const QString& text);

// Shows a top-level window and waits until it is active.
void showActive(QWidget& window);

// Saves a picture of the window when OSTREL_PICTURE_DIR names a directory.
void savePicture(QWidget& window, const QString& name);

}  // namespace tovani::testing
