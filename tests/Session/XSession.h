// XSession gives a test program a desktop session of its own: an Xvfb server
// on a free display, the Openbox window manager and a D-Bus session bus, so
// that stacking and focus are decided by a real window manager rather than
// the offscreen platform. It is a gtest environment: everything starts before
// the first test and ends after the last, with the QApplication on top.
//
//   ::testing::AddGlobalTestEnvironment(new XSession);
//   ...
//   std::vector<unsigned long> order = XSession::stacking();  // bottom first
#pragma once

#include <gtest/gtest.h>

#include <QProcessEnvironment>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

class QProcess;

namespace tovani::testing {

class XSession : public ::testing::Environment {
public:
    XSession();
    ~XSession() override;
    void SetUp() override;
    void TearDown() override;

    // Whether the session came up; tests skip otherwise.
    static bool ready();
    // The environment for child processes: the session's display and bus, a
    // private runtime folder and configuration.
    static QProcessEnvironment childEnvironment();

    // The managed windows, bottom of the stack first.
    static std::vector<unsigned long> stacking();
    // The window that has the focus, or 0.
    static unsigned long activeWindow();
    // WM_TRANSIENT_FOR of the window, or 0.
    static unsigned long transientFor(unsigned long window);
    // A text property of the window as xprop shows it (without quotes).
    static QStringList textProperty(unsigned long window, const char* name);

    // Serves events until condition holds; false after timeoutMs.
    static bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 10000);

private:
    struct Processes;
    std::unique_ptr<Processes> processes_;
};

}  // namespace tovani::testing
