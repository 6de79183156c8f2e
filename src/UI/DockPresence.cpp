#include "UI/DockPresence.h"

#include <QApplication>
#include <QWidget>

#include "UI/DockPresencePlatform.h"
#include "UI/OrdinaryWindow.h"

namespace tovani::DockPresence {
namespace {

ActivationPolicy currentPolicy = ActivationPolicy::regular;

}  // namespace

ActivationPolicy wantedPolicy() {
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (const QWidget* window : windows) {
        if (window->isVisible() && isOrdinaryWindow(*window)) {
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
