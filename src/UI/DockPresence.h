// DockPresence keeps the app's presence in the task bar or Dock in step with
// its windows: regular while one of its windows is visible, accessory
// otherwise. Call refresh() after a window or modal dialog goes away.
//
//   dialog.exec();
//   DockPresence::refresh();
//   if (DockPresence::activationPolicy() == DockPresence::ActivationPolicy::accessory) ...
#pragma once

namespace tovani::DockPresence {

enum class ActivationPolicy {
    // Has an icon and a menu bar of its own.
    regular = 0,
    // Runs without an icon.
    accessory = 1,
};

// The policy that fits the windows on screen now: regular when at least one
// top-level window of the app is visible.
ActivationPolicy wantedPolicy();

// Sets the policy to wantedPolicy() when it differs from the current one.
// Never activates the app, orders a window or moves the focus.
void refresh();

// The policy last set (regular before anything set one).
ActivationPolicy activationPolicy();

// Sets the policy now; callers about to show a dialog set regular first.
void setActivationPolicy(ActivationPolicy policy);

}  // namespace tovani::DockPresence
