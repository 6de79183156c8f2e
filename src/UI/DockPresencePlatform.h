// The platform step behind DockPresence: applies an activation policy to the
// running application. One implementation per platform (DockPresenceLinux.cpp).
//
//   applyActivationPolicy(DockPresence::ActivationPolicy::accessory);
#pragma once

#include "UI/DockPresence.h"

namespace tovani::DockPresence {

void applyActivationPolicy(ActivationPolicy policy);

}  // namespace tovani::DockPresence
