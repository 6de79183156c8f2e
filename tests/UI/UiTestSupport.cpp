#include "UiTestSupport.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QPointer>
#include <QTest>
#include <QTimer>

namespace tovani::testing {
namespace {

constexpr int waitLimitMs = 5000;

void poll(std::function<void(QWidget&)> step, QElapsedTimer started) {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal != nullptr && modal->isVisible()) {
        QPointer<QWidget> dialog = modal;
        step(*modal);
        QTimer::singleShot(waitLimitMs, [dialog] {
            if (dialog && dialog->isVisible()) {
                if (auto* asDialog = qobject_cast<QDialog*>(dialog.data())) {
                    ADD_FAILURE() << "dialog still open: " << dialog->metaObject()->className();
                    asDialog->reject();
                }
            }
        });
        return;
    }
    if (started.elapsed() > waitLimitMs) {
        ADD_FAILURE() << "no modal dialog appeared";
        return;
    }
    QTimer::singleShot(10, [step = std::move(step), started] { poll(step, started); });
}

}  // namespace

void ensureApplication() {
    if (QApplication::instance() != nullptr) {
        return;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "UITests";
    static char* argv[] = {name, nullptr};
    // Lives until the process ends; tests share it.
    new QApplication(argc, argv);
    QCoreApplication::setApplicationName("Ostrel");
    QCoreApplication::setApplicationVersion("1.0.0");
}

void onNextModal(std::function<void(QWidget&)> step) {
    QElapsedTimer started;
    started.start();
    QTimer::singleShot(0, [step = std::move(step), started] { poll(step, started); });
}

QAbstractButton* findButton(QWidget& dialog, const QString& text) {
    for (QAbstractButton* button : dialog.findChildren<QAbstractButton*>()) {
        if (button->isVisible() && button->text().remove('&') == text) {
            return button;
        }
    }
    return nullptr;
}

void clickButton(QWidget& dialog, const QString& text) {
    QAbstractButton* button = findButton(dialog, text);
    if (button == nullptr) {
        ADD_FAILURE() << "no button " << text.toStdString();
        if (auto* asDialog = qobject_cast<QDialog*>(&dialog)) {
            asDialog->reject();
        }
        return;
    }
    button->click();
}

void showActive(QWidget& window) {
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
}

void savePicture(QWidget& window, const QString& name) {
    const QString directory = qEnvironmentVariable("OSTREL_PICTURE_DIR");
    if (directory.isEmpty() || !QDir(directory).exists()) {
        return;
    }
    window.grab().save(QDir(directory).filePath(name + ".png"));
}

}  // namespace tovani::testing
