#include "UI/ProgressWindowController.h"

#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpontaneKeyEvent>
#include <QTest>
#include <QWindow>

#include "UI/DockPresence.h"
#include "UI/ElidedLabel.h"
#include "UI/RunModal.h"
#include "UiTestSupport.h"
#include "support/ManualDelayTimer.h"

namespace tovani {
namespace {

using DockPresence::ActivationPolicy;

class ProgressWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::ensureApplication();
        auto timer = std::make_unique<testing::ManualDelayTimer>();
        appearance = timer.get();
        controller = std::make_unique<ProgressWindowController>(
            nullptr, ProgressWindowController::Clock{}, std::move(timer));
        controller->setOnCancel([this] { ++cancels; });
    }

    QWidget& window() { return *controller->window(); }
    QString text(const char* name) { return window().findChild<QLabel*>(name)->text(); }
    QProgressBar& bar() { return *window().findChild<QProgressBar*>("progressBar"); }
    QPushButton& cancelButton() { return *window().findChild<QPushButton*>("cancelButton"); }
    bool barIsIndeterminate() { return bar().minimum() == 0 && bar().maximum() == 0; }
    double barFraction() { return double(bar().value()) / bar().maximum(); }

    // Starts a job and lets the appearance delay run out.
    void beginShown(const QString& name, std::int64_t position, std::int64_t total) {
        controller->begin(name, position, total);
        appearance->elapse();
        ASSERT_TRUE(window().isVisible());
    }

    // The controller's appearance delay, which runs out when the test says.
    testing::ManualDelayTimer* appearance = nullptr;
    std::unique_ptr<ProgressWindowController> controller;
    int cancels = 0;
};

TEST_F(ProgressWindowTest, WindowIsFixedWidthTitledWithoutCloseControl) {
    EXPECT_EQ(window().width(), 440);
    EXPECT_EQ(window().minimumWidth(), 440);
    EXPECT_EQ(window().maximumWidth(), 440);
    EXPECT_EQ(window().windowTitle(), "Ostrel");
    const Qt::WindowFlags flags = window().windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::CustomizeWindowHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowTitleHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    // The user asked for the job: the window may take the focus.
    EXPECT_FALSE(window().testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_FALSE(window().isVisible());
}

TEST_F(ProgressWindowTest, AppearsOnlyAfterOneSecond) {
    DockPresence::refresh();
    controller->begin("a.rar", 1, 1);
    EXPECT_EQ(appearance->delay(), ProgressWindowController::appearanceDelay);
    EXPECT_FALSE(window().isVisible());
    EXPECT_TRUE(controller->isAppearancePending());
    EXPECT_EQ(DockPresence::activationPolicy(), ActivationPolicy::accessory);

    appearance->elapse();
    EXPECT_TRUE(window().isVisible());
    EXPECT_FALSE(controller->isAppearancePending());
    EXPECT_EQ(DockPresence::activationPolicy(), ActivationPolicy::regular);
    testing::savePicture(window(), "progress-indeterminate");

    controller->finish();
    EXPECT_FALSE(window().isVisible());
    EXPECT_EQ(DockPresence::activationPolicy(), ActivationPolicy::accessory);
}

TEST_F(ProgressWindowTest, LaterJobsKeepTheFirstDeadline) {
    controller->begin("a.rar", 1, 2);
    controller->begin("b.rar", 2, 2);
    EXPECT_EQ(appearance->starts(), 1);
    appearance->elapse();
    EXPECT_TRUE(window().isVisible());
    EXPECT_EQ(text("titleLabel"), "Extracting “b.rar”");
    EXPECT_EQ(text("countLabel"), "2 of 2");
}

TEST_F(ProgressWindowTest, FinishWhilePendingNeverShowsTheWindow) {
    controller->begin("a.rar", 1, 1);
    controller->finish();
    EXPECT_FALSE(controller->isAppearancePending());
    appearance->elapse();
    EXPECT_FALSE(window().isVisible());
    EXPECT_EQ(DockPresence::activationPolicy(), ActivationPolicy::accessory);
}

TEST_F(ProgressWindowTest, AJobThatEndedIsNoLongerDueButTheNextOneIs) {
    controller->begin("a.rar", 1, 2);
    controller->jobEnded();
    EXPECT_FALSE(controller->isAppearancePending());
    controller->begin("b.rar", 2, 2);
    EXPECT_TRUE(controller->isAppearancePending());
    controller->finish();
}

TEST_F(ProgressWindowTest, NeverComesUpOverADialogAndComesUpOnceItIsGone) {
    controller->begin("a.rar", 1, 1);
    bool shownOverDialog = true;
    testing::onNextModal([&](QWidget& dialog) {
        appearance->elapse();
        EXPECT_FALSE(controller->isAppearancePending());
        QCoreApplication::processEvents();
        shownOverDialog = window().isVisible();
        qobject_cast<QDialog*>(&dialog)->reject();
    });
    QDialog dialog;
    runModal(dialog);
    EXPECT_FALSE(shownOverDialog);
    EXPECT_TRUE(QTest::qWaitFor([&] { return window().isVisible(); }));

    // Once up, a dialog of the app is made transient for it.
    QWindow* parent = nullptr;
    testing::onNextModal([&](QWidget& second) {
        parent = second.windowHandle()->transientParent();
        qobject_cast<QDialog*>(&second)->reject();
    });
    QDialog second;
    runModal(second);
    EXPECT_EQ(parent, window().windowHandle());
    controller->finish();
}

TEST_F(ProgressWindowTest, DetailRowShowsBytesDoneOfTotalAndTheTimeLeftOnceEstimable) {
    using namespace std::chrono_literals;
    std::chrono::steady_clock::time_point now{};
    ProgressWindowController timed(nullptr, [&now] { return now; });
    auto figures = [&] { return timed.window()->findChild<QLabel*>("figuresLabel")->text(); };
    timed.begin("a.rar", 1, 1);
    timed.update({.completedBytes = 0, .totalBytes = 0, .currentPath = "a/"});
    EXPECT_EQ(figures(), "");
    now += 1s;
    timed.update({.completedBytes = 12'000'000, .totalBytes = 48'000'000, .currentPath = "a/b"});
    EXPECT_EQ(figures(), "12 MB of 48 MB");
    now += 3s;  // 3 MB/s so far: 36 MB take 12 s more
    timed.update({.completedBytes = 12'000'000, .totalBytes = 48'000'000, .currentPath = "a/b"});
    EXPECT_EQ(figures(), "12 MB of 48 MB, 12 s left");
    timed.update({.completedBytes = 1'000'000, .totalBytes = 48'000'000, .currentPath = "a/b"});
    EXPECT_EQ(figures(), "1 MB of 48 MB, 4 min left");
    timed.update({.completedBytes = 48'000'000, .totalBytes = 48'000'000, .currentPath = "a/c"});
    EXPECT_EQ(figures(), "48 MB of 48 MB");
    // A new job starts its own estimate.
    timed.begin("b.rar", 1, 1);
    EXPECT_EQ(figures(), "");
    timed.update({.completedBytes = 1, .totalBytes = 2, .currentPath = "x"});
    EXPECT_EQ(figures(), "1 byte of 2 bytes");

    EXPECT_EQ(ProgressWindowController::durationText(0s), "1 s");
    EXPECT_EQ(ProgressWindowController::durationText(59s), "59 s");
    EXPECT_EQ(ProgressWindowController::durationText(61s), "2 min");
    EXPECT_EQ(ProgressWindowController::durationText(3600s), "1 h 0 min");
    EXPECT_EQ(ProgressWindowController::durationText(5401s), "1 h 31 min");
    timed.finish();
}

TEST_F(ProgressWindowTest, ShiftCancelAndShiftEscapeCancelTheRestOfTheBatch) {
    int cancelAlls = 0;
    controller->setOnCancelAll([&] { ++cancelAlls; });
    beginShown("a.rar", 1, 3);
    EXPECT_FALSE(cancelButton().toolTip().isEmpty());
    QTest::mouseClick(&cancelButton(), Qt::LeftButton, Qt::ShiftModifier);
    EXPECT_EQ(cancelAlls, 1);
    EXPECT_EQ(cancels, 0);
    EXPECT_EQ(text("detailLabel"), "Cancelling…");
    EXPECT_EQ(text("countLabel"), "");

    controller->begin("b.rar", 2, 3);
    QTest::mouseClick(&cancelButton(), Qt::LeftButton);
    EXPECT_EQ(cancels, 1);
    EXPECT_EQ(cancelAlls, 1);

    controller->begin("c.rar", 3, 3);
    testing::showActive(window());
    QTest::keyClick(&window(), Qt::Key_Escape, Qt::ShiftModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return cancelAlls == 2; }));
    controller->finish();
}

TEST_F(ProgressWindowTest, BeginResetsTextsAndCountsTheBatch) {
    controller->begin("one.rar", 1, 1);
    EXPECT_EQ(text("titleLabel"), "Extracting “one.rar”");
    EXPECT_EQ(text("countLabel"), "");
    controller->update({.completedBytes = 5, .totalBytes = 10, .currentPath = "x/y.txt"});
    EXPECT_EQ(text("detailLabel"), "x/y.txt");

    const auto* hint = window().findChild<QWidget*>("hintLabel");
    ASSERT_NE(hint, nullptr);
    EXPECT_FALSE(hint->isVisibleTo(&window()));
    const int alone = window().height();
    for (int position = 1; position <= 3; ++position) {
        controller->begin("set.part1.rar", position, 3);
        EXPECT_EQ(text("countLabel"), QString("%1 of 3").arg(position));
        EXPECT_EQ(text("detailLabel"), "");
        EXPECT_TRUE(barIsIndeterminate());
        // The Shift-click hint shows, without hovering, while others wait.
        EXPECT_EQ(hint->isVisibleTo(&window()), position < 3);
        EXPECT_EQ(window().height() > alone, position < 3);
    }
    EXPECT_EQ(text("hintLabel"), "Shift-click to cancel the remaining archives as well.");
    EXPECT_EQ(window().findChild<QWidget*>("cancelButton")->accessibleDescription(),
              text("hintLabel"));
    controller->finish();
}

TEST_F(ProgressWindowTest, BarIsIndeterminateUntilTheTotalIsKnown) {
    controller->begin("a.rar", 1, 1);
    EXPECT_TRUE(barIsIndeterminate());
    controller->update({.completedBytes = 0, .totalBytes = 0, .currentPath = "empty/"});
    EXPECT_TRUE(barIsIndeterminate());
    EXPECT_EQ(text("detailLabel"), "empty/");

    controller->update({.completedBytes = 250, .totalBytes = 1000, .currentPath = "a"});
    EXPECT_FALSE(barIsIndeterminate());
    EXPECT_DOUBLE_EQ(barFraction(), 0.25);
    controller->update({.completedBytes = 1000, .totalBytes = 1000, .currentPath = "b"});
    EXPECT_DOUBLE_EQ(barFraction(), 1.0);

    // Sizes beyond 32 bits must not overflow the bar.
    const std::uint64_t big = std::uint64_t(1) << 40;
    controller->update({.completedBytes = big / 2, .totalBytes = big, .currentPath = "c"});
    EXPECT_DOUBLE_EQ(barFraction(), 0.5);
    controller->finish();
}

TEST_F(ProgressWindowTest, CancelShowsCancellingAndIgnoresLaterReports) {
    beginShown("a.rar", 1, 2);
    controller->update({.completedBytes = 1, .totalBytes = 4, .currentPath = "first"});
    cancelButton().click();
    EXPECT_EQ(cancels, 1);
    EXPECT_FALSE(cancelButton().isEnabled());
    EXPECT_EQ(text("detailLabel"), "Cancelling…");
    testing::savePicture(window(), "progress-cancelling");

    // A disabled button cannot be pressed twice.
    cancelButton().click();
    EXPECT_EQ(cancels, 1);
    controller->update({.completedBytes = 3, .totalBytes = 4, .currentPath = "later"});
    EXPECT_EQ(text("detailLabel"), "Cancelling…");
    EXPECT_DOUBLE_EQ(barFraction(), 0.25);
    EXPECT_EQ(text("titleLabel"), "Extracting “a.rar”");

    controller->begin("b.rar", 2, 2);
    EXPECT_TRUE(cancelButton().isEnabled());
    EXPECT_EQ(text("detailLabel"), "");
    EXPECT_EQ(text("titleLabel"), "Extracting “b.rar”");
    controller->finish();
}

TEST_F(ProgressWindowTest, EscapeCancelsLikeTheButton) {
    beginShown("a.rar", 1, 1);
    testing::showActive(window());
    QTest::keyClick(&window(), Qt::Key_Escape);
    // The button shows itself pressed for a moment before it acts.
    ASSERT_TRUE(QTest::qWaitFor([this] { return cancels > 0; }, 5000));
    EXPECT_EQ(cancels, 1);
    EXPECT_EQ(text("detailLabel"), "Cancelling…");
    controller->finish();
}

TEST_F(ProgressWindowTest, UserCannotDismissTheWindowButFinishClosesIt) {
    beginShown("a.rar", 1, 1);
    // What a window manager sends when the user closes a window.
    QCloseEvent close;
    QSpontaneKeyEvent::setSpontaneous(&close);
    // notify() delivers it as it is; sendEvent() would clear the flag.
    qApp->notify(&window(), &close);
    EXPECT_FALSE(close.isAccepted());
    EXPECT_TRUE(window().isVisible());

    controller->finish();
    EXPECT_FALSE(window().isVisible());
    // The same window serves the next batch.
    beginShown("b.rar", 1, 1);
    controller->finish();
}

TEST_F(ProgressWindowTest, LongTitleIsShortenedInTheMiddleNotWidened) {
    const QString name = QString("very-long-archive-name-").repeated(8) + "end.rar";
    const QString path = QString("deep/folder/").repeated(20) + "file.txt";
    beginShown(name, 12, 345);
    controller->update({.completedBytes = 2, .totalBytes = 3, .currentPath = path.toStdString()});
    // The labels elide once the layout they were given has been applied.
    QCoreApplication::processEvents();
    EXPECT_EQ(window().width(), 440);
    auto* title = window().findChild<ElidedLabel*>("titleLabel");
    auto* detail = window().findChild<ElidedLabel*>("detailLabel");
    EXPECT_TRUE(title->displayedText().startsWith("Extracting “very-long"));
    EXPECT_TRUE(title->displayedText().endsWith("end.rar”"));
    EXPECT_TRUE(title->displayedText().contains("…"));
    EXPECT_TRUE(detail->displayedText().endsWith("file.txt"));
    EXPECT_LE(title->geometry().right(), 440 - 20);
    EXPECT_EQ(text("countLabel"), "12 of 345");
    testing::savePicture(window(), "progress-long-names");
    controller->finish();
}

}  // namespace
}  // namespace tovani
