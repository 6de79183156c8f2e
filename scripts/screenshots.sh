#!/usr/bin/env bash
# Renders every window and dialog of the app to PNG files under
# docs/screenshots/ (offscreen, at 100% scale), from the disabled render tests;
# the password prompt over the progress window is rendered in a desktop
# session of its own (Xvfb with Openbox), as a window manager stacks them.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${OSTREL_BUILD_DIR:-$root/build}
out="$root/docs/screenshots"
bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" -j "$(nproc)" --target UITests SettingsTests SessionTests
mkdir -p "$out"
export QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=1 OSTREL_PICTURE_DIR="$out" OSTREL_PICTURES="$out"
"$build/tests/UITests" --gtest_also_run_disabled_tests \
  --gtest_filter='Screenshot.*:PasswordPrompt*:ErrorPresenter*:ProgressWindow*' >/dev/null
"$build/tests/SettingsTests" --gtest_also_run_disabled_tests \
  --gtest_filter='SettingsWindowTest.DISABLED_RenderForReview' >/dev/null
"$build/tests/SessionTests" --gtest_also_run_disabled_tests \
  --gtest_filter='StackingTest.DISABLED_RenderPromptOverProgressWindow' >/dev/null
ls "$out"
