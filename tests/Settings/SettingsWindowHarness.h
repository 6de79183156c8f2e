// The fixture of the settings window's tests: a QApplication made before any
// test runs, private XDG folders in a fresh directory (so that neither
// xdg-mime nor the desktop file lookup ever reads or writes the user's own
// associations), a stand-in for xdg-mime there, and a controller over a
// settings file there.
//
//   TEST_F(SettingsWindowTest, Something) {
//       tool_.answer(kAppId.toStdString());
//       SettingsWindowController& controller = makeController(tool_);
//       controller.show();
//   }
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QSignalSpy>
#include <filesystem>
#include <memory>
#include <string>

#include "Settings/AppSettings.h"
#include "Settings/DefaultAppStatus.h"
#include "Settings/SettingsWindowController.h"
#include "Settings/XdgEnvironment.h"
#include "support/TempDirectory.h"

namespace tovani::testing {

inline constexpr int kWaitMs = 15000;
inline const QString kAppId = QStringLiteral("org.ostrel.Ostrel.desktop");

// Widgets need a QApplication, and it must be the process's first application
// object: the other tests of this program make a QCoreApplication lazily, so
// the QApplication is made before any test runs.
inline QApplication* ensureApplication() {
    if (QCoreApplication::instance() == nullptr) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        static int argc = 1;
        static char name[] = "SettingsTests";
        static char* argv[] = {name, nullptr};
        new QApplication(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("Ostrel"));
        QCoreApplication::setApplicationVersion(QStringLiteral("1.0.0"));
    }
    return qobject_cast<QApplication*>(QCoreApplication::instance());
}

// A stand-in for xdg-mime: "query" prints the contents of the file "answer"
// (the handler's desktop id), "default" records itself in "requests" and
// makes its id the answer. Every run is appended to "runs".
class FakeXdgMime {
public:
    explicit FakeXdgMime(const std::filesystem::path& directory) : directory_(directory) {
        const std::filesystem::path script = directory / "xdg-mime";
        writeFile(script,
                  "#!/bin/sh\n"
                  "cd \"$(dirname \"$0\")\"\n"
                  "echo \"$*\" >> runs\n"
                  "case \"$1\" in\n"
                  "  query) cat answer 2>/dev/null ;;\n"
                  "  default) echo \"$*\" >> requests; echo \"$2\" > answer ;;\n"
                  "esac\n");
        chmod(script.c_str(), 0755);
    }

    QString program() const { return QString::fromStdString((directory_ / "xdg-mime").string()); }
    void answer(const std::string& desktopId) {
        writeFile(directory_ / "answer", desktopId + "\n");
    }
    std::string requests() const {
        return std::filesystem::exists(directory_ / "requests") ? readFile(directory_ / "requests")
                                                                : "";
    }

private:
    std::filesystem::path directory_;
};

class SettingsWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ensureApplication();
        // Another app, which xdg-mime takes as a handler only when its
        // program can be found.
        writeFile(dir_ / "home/applications/archive-viewer.desktop",
                  "[Desktop Entry]\nType=Application\nName=Archive Viewer\nExec=true %F\n");
        // This app's own, which starts this very program.
        writeFile(dir_ / "home/applications" / kAppId.toStdString(),
                  "[Desktop Entry]\nType=Application\nName=Ostrel\nExec=" +
                      QCoreApplication::applicationFilePath().toStdString() + " %F\n");
    }
    void TearDown() override {
        controller_.reset();
        settings_.reset();
    }

    // Records handlers in the private mimeapps.list, as "type=id" lines.
    void recordDefaults(const std::string& lines) {
        writeFile(dir_ / "config/mimeapps.list", "[Default Applications]\n" + lines);
    }

    QString settingsFile() const {
        return QString::fromStdString((dir_ / "settings.conf").string());
    }

    // A controller over a settings file in the test directory, asking the
    // given program for the default handler; waits for the first answer.
    SettingsWindowController& makeController(const QString& program) {
        settings_ = std::make_unique<AppSettings>(settingsFile());
        auto* status = new DefaultAppStatus(kAppId, program);
        QSignalSpy refreshed(status, &DefaultAppStatus::refreshed);
        controller_ = std::make_unique<SettingsWindowController>(*settings_, status);
        EXPECT_TRUE(refreshed.wait(kWaitMs));
        return *controller_;
    }
    SettingsWindowController& makeController(FakeXdgMime& tool) {
        return makeController(tool.program());
    }

    static bool waitForRefresh(DefaultAppStatus& status) {
        QSignalSpy refreshed(&status, &DefaultAppStatus::refreshed);
        return refreshed.wait(kWaitMs);
    }

    static QStringList itemTexts(const QComboBox* box) {
        QStringList texts;
        for (int i = 0; i < box->count(); ++i) {
            texts << box->itemText(i);
        }
        return texts;
    }

    static QStringList labelTexts(const QWidget* root) {
        QStringList texts;
        for (const QLabel* label : root->findChildren<QLabel*>()) {
            texts << label->text();
        }
        return texts;
    }

    TempDirectory dir_;
    XdgEnvironment environment_{dir_.path()};
    FakeXdgMime tool_{dir_.path()};
    std::unique_ptr<AppSettings> settings_;
    std::unique_ptr<SettingsWindowController> controller_;
};

}  // namespace tovani::testing
