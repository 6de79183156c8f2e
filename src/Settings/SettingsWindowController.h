// SettingsWindowController owns the settings window: made once, on first use,
// and kept for the life of the process. Closing the window only hides it;
// show() brings the same window back with a freshly read default-app status.
//
//   auto* settingsWindow = new SettingsWindowController(AppSettings::shared());
//   settingsWindow->show();
//   settingsWindow->window()->installEventFilter(delegate);  // sees it close
#pragma once

#include <QObject>

class QWidget;

namespace tovani {

class AppSettings;
class DefaultAppStatus;
class SettingsView;

class SettingsWindowController : public QObject {
    Q_OBJECT

public:
    // Builds the status object (which refreshes itself at once), the view and
    // the window. `settings` must outlive the controller.
    explicit SettingsWindowController(AppSettings& settings, QObject* parent = nullptr);
    // Uses the given status object and takes ownership of it (tests).
    SettingsWindowController(AppSettings& settings, DefaultAppStatus* defaultApp,
                             QObject* parent = nullptr);
    ~SettingsWindowController() override;

    SettingsWindowController(const SettingsWindowController&) = delete;
    SettingsWindowController& operator=(const SettingsWindowController&) = delete;

    // Refreshes the status, makes the app regular, and shows the window in
    // front with the focus.
    void show();

    // The top-level window; it is never deleted when closed.
    QWidget* window() const { return window_; }
    SettingsView* view() const { return view_; }
    DefaultAppStatus& defaultApp() const { return *defaultApp_; }

private:
    void fitHeight();

    DefaultAppStatus* defaultApp_;
    QWidget* window_ = nullptr;
    SettingsView* view_ = nullptr;
};

}  // namespace tovani
