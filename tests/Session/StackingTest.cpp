// Under a real window manager, a dialog of the app is never covered by the
// progress window and keeps the focus, whichever of the two came first.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QLineEdit>
#include <QPointer>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <algorithm>

#include "UI/PasswordPrompt.h"
#include "UI/ProgressWindowController.h"
#include "XSession.h"
#include "support/ManualDelayTimer.h"

namespace tovani::testing {
namespace {

[[maybe_unused]] ::testing::Environment* const session =
    ::testing::AddGlobalTestEnvironment(new XSession);

// Runs step with the modal dialog once it is on screen; without one within
// 10 s the test fails.
void whenModal(std::function<void(QDialog&)> step) {
    auto* poll = new QTimer;
    poll->setInterval(10);
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    QObject::connect(poll, &QTimer::timeout, [poll, step = std::move(step), started] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (dialog != nullptr && dialog->isVisible()) {
            poll->stop();
            poll->deleteLater();
            step(*dialog);
        } else if (started->elapsed() > 10000) {
            poll->stop();
            poll->deleteLater();
            ADD_FAILURE() << "no dialog came up";
        }
    });
    poll->start();
}

unsigned long idOf(const QWidget& window) {
    return static_cast<unsigned long>(window.winId());
}

// Position in the stack, bottom first; -1 when the window is not managed.
int stackPosition(unsigned long window) {
    const std::vector<unsigned long> order = XSession::stacking();
    const auto found = std::find(order.begin(), order.end(), window);
    return found == order.end() ? -1 : static_cast<int>(found - order.begin());
}

void answer(QDialog& prompt, const QString& password) {
    QLineEdit* field = prompt.findChild<QLineEdit*>("passwordField");
    QTest::keyClicks(field, password);
    QTest::keyClick(field, Qt::Key_Return);
}

class StackingTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!XSession::ready()) {
            GTEST_SKIP() << "no X session (Xvfb, openbox)";
        }
        // The window is due when the test says rather than after a second:
        // the order is what counts.
        auto timer = std::make_unique<ManualDelayTimer>();
        appearance = timer.get();
        progress = std::make_unique<ProgressWindowController>(
            nullptr, ProgressWindowController::Clock{}, std::move(timer));
    }
    void TearDown() override {
        if (progress) {
            progress->finish();
        }
    }

    ManualDelayTimer* appearance = nullptr;
    std::unique_ptr<ProgressWindowController> progress;
};

TEST_F(StackingTest, APromptOpenedBeforeTheProgressWindowIsDueStaysOnTopWithTheFocus) {
    progress->begin("a.rar", 1, 1);
    bool focused = false, appeared = true, coveredAfterward = true;
    whenModal([&](QDialog& prompt) {
        const unsigned long id = idOf(prompt);
        focused = XSession::waitUntil([&] { return XSession::activeWindow() == id; });
        // The window's time comes while the prompt is up.
        appearance->elapse();
        QTest::qWait(200);  // room for a wrong raise to reach the window manager
        appeared = progress->window()->isVisible() && stackPosition(idOf(*progress->window())) >= 0;
        coveredAfterward = stackPosition(idOf(*progress->window())) > stackPosition(id) ||
                           XSession::activeWindow() != id;
        answer(prompt, "pw");
    });
    EXPECT_EQ(PasswordPrompt::run({.archiveName = "a.rar"}), std::optional<std::string>("pw"));
    EXPECT_TRUE(focused);
    EXPECT_FALSE(appeared);
    EXPECT_FALSE(coveredAfterward);
    // With the prompt gone, the job's window comes up.
    EXPECT_TRUE(XSession::waitUntil([&] { return stackPosition(idOf(*progress->window())) >= 0; }));
}

TEST_F(StackingTest, APromptOverAVisibleProgressWindowStaysAboveItEvenWhenItIsRaised) {
    progress->begin("a.rar", 1, 2);
    appearance->elapse();
    const unsigned long window = idOf(*progress->window());
    ASSERT_TRUE(XSession::waitUntil([&] { return stackPosition(window) >= 0; }));

    int promptAbove = 0, stillAbove = 0;
    bool focused = false;
    unsigned long transientFor = 0;
    whenModal([&](QDialog& prompt) {
        const unsigned long id = idOf(prompt);
        focused = XSession::waitUntil([&] { return XSession::activeWindow() == id; });
        // The window manager restacks after it hands over the focus.
        XSession::waitUntil([&] { return stackPosition(id) > stackPosition(window); });
        promptAbove = stackPosition(id) - stackPosition(window);
        transientFor = XSession::transientFor(id);
        // The next job starts and the window is raised on purpose: the window
        // manager still keeps the prompt above it.
        progress->begin("b.rar", 2, 2);
        progress->window()->raise();
        QTest::qWait(200);
        stillAbove = stackPosition(id) - stackPosition(window);
        answer(prompt, "pw");
    });
    EXPECT_EQ(PasswordPrompt::run({.archiveName = "b.rar"}), std::optional<std::string>("pw"));
    EXPECT_TRUE(focused);
    EXPECT_EQ(transientFor, window);
    EXPECT_GT(promptAbove, 0);
    EXPECT_GT(stillAbove, 0);
}

// Renders the password prompt over the progress window as the window manager
// stacks them, for the README: run with --gtest_also_run_disabled_tests.
TEST_F(StackingTest, DISABLED_RenderPromptOverProgressWindow) {
    const QString pictures = qEnvironmentVariable("OSTREL_PICTURE_DIR");
    ASSERT_FALSE(pictures.isEmpty()) << "set OSTREL_PICTURE_DIR to a directory";
    progress->begin("Holiday Photos.part1.rar", 1, 3);
    progress->update({.completedBytes = 0,
                      .totalBytes = 48'000'000,
                      .currentPath = "Holiday Photos/IMG_0001.jpg"});
    appearance->elapse();
    ASSERT_TRUE(XSession::waitUntil([&] { return stackPosition(idOf(*progress->window())) >= 0; }));
    whenModal([&](QDialog& prompt) {
        XSession::waitUntil([&] { return XSession::activeWindow() == idOf(prompt); });
        QTest::qWait(300);
        const QRect area = progress->window()->frameGeometry().united(prompt.frameGeometry());
        const QPixmap screen = QGuiApplication::primaryScreen()->grabWindow(0);
        screen.copy(area.adjusted(-24, -24, 24, 24))
            .save(QDir(pictures).filePath("password-over-progress.png"));
        qobject_cast<QDialog*>(&prompt)->reject();
    });
    PasswordPrompt::run({.archiveName = "Holiday Photos.part2.rar"});
}

}  // namespace
}  // namespace tovani::testing
