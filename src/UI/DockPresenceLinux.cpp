#include "UI/DockPresencePlatform.h"

namespace tovani::DockPresence {

// Linux desktops show a task bar entry for each visible window by themselves,
// so there is nothing to switch.
void applyActivationPolicy(ActivationPolicy) {}

}  // namespace tovani::DockPresence
