#include "UI/DockPresence.h"

#include <gtest/gtest.h>

#include <QMenu>
#include <QTest>
#include <QWidget>

#include "UiTestSupport.h"

namespace tovani {
namespace {

using DockPresence::ActivationPolicy;

class DockPresenceTest : public ::testing::Test {
protected:
    void SetUp() override { testing::ensureApplication(); }
};

TEST_F(DockPresenceTest, FollowsTheVisibleWindows) {
    DockPresence::refresh();
    EXPECT_EQ(DockPresence::wantedPolicy(), ActivationPolicy::accessory);
    EXPECT_EQ(DockPresence::activationPolicy(), ActivationPolicy::accessory);
    DockPresence::refresh();
    EXPECT_EQ(DockPresence::activationPolicy(), ActivationPolicy::accessory);

    QWidget first, second;
    first.show();
    second.show();
    DockPresence::refresh();
    EXPECT_EQ(DockPresence::activationPolicy(), ActivationPolicy::regular);

    first.close();
    DockPresence::refresh();
    EXPECT_EQ(DockPresence::activationPolicy(), ActivationPolicy::regular);

    // Closed but kept windows do not count.
    second.hide();
    DockPresence::refresh();
    EXPECT_EQ(DockPresence::activationPolicy(), ActivationPolicy::accessory);
}

TEST_F(DockPresenceTest, HiddenWindowsAndPopupsDoNotCount) {
    QWidget hidden;
    hidden.show();
    hidden.hide();
    QMenu popup;
    popup.popup(QPoint(0, 0));
    EXPECT_EQ(DockPresence::wantedPolicy(), ActivationPolicy::accessory);
    popup.close();
}

TEST_F(DockPresenceTest, RefreshNeverShowsOrActivates) {
    DockPresence::setActivationPolicy(ActivationPolicy::regular);
    QWidget window;
    DockPresence::refresh();
    EXPECT_EQ(DockPresence::activationPolicy(), ActivationPolicy::accessory);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(QApplication::activeWindow(), nullptr);
}

}  // namespace
}  // namespace tovani
