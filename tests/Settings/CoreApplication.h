// The process's QCoreApplication for tests that need an event loop or
// application-wide objects: made on first use, kept until the process ends.
//
//   tovani::testing::ensureCoreApplication();
//   QSignalSpy spy(&status, &DefaultAppStatus::refreshed);
#pragma once

#include <QCoreApplication>

namespace tovani::testing {

inline QCoreApplication* ensureCoreApplication() {
    if (QCoreApplication::instance() == nullptr) {
        static int argc = 1;
        static char name[] = "SettingsTests";
        static char* argv[] = {name, nullptr};
        new QCoreApplication(argc, argv);
    }
    return QCoreApplication::instance();
}

}  // namespace tovani::testing
