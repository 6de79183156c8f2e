#include "UI/DockPresence.h"

#include <QApplication>
#include <QWidget>

#include "UI/DockPresencePlatform.h"

namespace tovani::DockPresence {
namespace {

ActivationPolicy currentPolicy = ActivationPolicy::regular;

// Menus, tool tips and similar transient popups are not windows of the app
// in the sense of the rule.
bool countsAsWindow(const QWidget* widget) {
    if (!widget->isWindow() || !widget->isVisible()) {
        return false;
    }
    const Qt::WindowType type = widget->windowType();
    return type != Qt::Popup && type != Qt::ToolTip && type != Qt::SplashScreen;
}

}  // namespace

ActivationPolicy wantedPolicy() {
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (const QWidget* window : windows) {
        if (countsAsWindow(window)) {
            return ActivationPolicy::regular;
        }
    }
    return ActivationPolicy::accessory;
}

void refresh() {
    const ActivationPolicy wanted = wantedPolicy();
    if (wanted != currentPolicy) {
        setActivationPolicy(wanted);
    }
}

ActivationPolicy activationPolicy() {
    return currentPolicy;
}

void setActivationPolicy(ActivationPolicy policy) {
    currentPolicy = policy;
    applyActivationPolicy(policy);
}

}  // namespace tovani::DockPresence
