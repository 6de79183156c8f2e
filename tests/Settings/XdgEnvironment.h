// Private XDG folders for the tests that run xdg-mime or look up desktop
// files, so that the user's own associations are never read or written.
//
//   TempDirectory dir;
//   XdgEnvironment environment(dir.path());
//   // xdg-mime default ... now writes dir/config/mimeapps.list
#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <system_error>

namespace tovani::testing {

// Points xdg-mime and the desktop file lookup at private config and data
// folders below root, and keeps xdg-mime on its generic path (no desktop
// environment to ask), restoring everything after:
//   root/config (XDG_CONFIG_HOME, where mimeapps.list is written), root/etc,
//   root/home (XDG_DATA_HOME), root/local and root/system (XDG_DATA_DIRS,
//   where root/system/mime is the system's MIME database).
class XdgEnvironment {
public:
    explicit XdgEnvironment(const std::filesystem::path& root) {
        set("XDG_CONFIG_HOME", root / "config");
        set("XDG_CONFIG_DIRS", root / "etc");
        set("XDG_DATA_HOME", root / "home");
        set("XDG_DATA_DIRS", (root / "local").string() + ":" + (root / "system").string());
        // The shared MIME database stays the system's: it names and describes
        // types and records no associations.
        std::error_code ignored;
        std::filesystem::create_directories(root / "system", ignored);
        std::filesystem::create_directory_symlink("/usr/share/mime", root / "system/mime", ignored);
        for (const char* name :
             {"XDG_CURRENT_DESKTOP", "DE", "DESKTOP_SESSION", "XDG_MENU_PREFIX", "KDE_FULL_SESSION",
              "GNOME_DESKTOP_SESSION_ID", "MATE_DESKTOP_SESSION_ID", "LXQT_SESSION_CONFIG",
              "DBUS_SESSION_BUS_ADDRESS", "DISPLAY"}) {
            unset(name);
        }
    }
    ~XdgEnvironment() {
        for (const auto& [name, value] : saved_) {
            if (value) {
                qputenv(name.c_str(), *value);
            } else {
                qunsetenv(name.c_str());
            }
        }
    }
    XdgEnvironment(const XdgEnvironment&) = delete;
    XdgEnvironment& operator=(const XdgEnvironment&) = delete;

    void set(const char* name, const std::filesystem::path& value) {
        remember(name);
        qputenv(name, QByteArray::fromStdString(value.string()));
    }
    void unset(const char* name) {
        remember(name);
        qunsetenv(name);
    }

private:
    void remember(const char* name) {
        if (saved_.count(name) == 0) {
            saved_[name] = qEnvironmentVariableIsSet(name)
                               ? std::optional<QByteArray>(qgetenv(name))
                               : std::nullopt;
        }
    }
    std::map<std::string, std::optional<QByteArray>> saved_;
};

}  // namespace tovani::testing
