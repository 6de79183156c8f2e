// Renders the windows and alerts a user meets into $OSTREL_PICTURE_DIR, for
// the README and for a look by eye. Disabled in normal runs; the screenshots
// script runs it with --gtest_also_run_disabled_tests.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <stdexcept>

#include "TovaniCore/ExtractionError.h"
#include "UI/ErrorPresenter.h"
#include "UI/ProgressWindowController.h"
#include "UiTestSupport.h"

namespace tovani {
namespace {

using testing::clickButton;
using testing::onNextModal;
using testing::savePicture;

TEST(Screenshot, DISABLED_ProgressAtStartAndMidWay) {
    testing::ensureApplication();
    ProgressWindowController progress;
    progress.begin("Holiday Photos.part1.rar", 2, 3);
    progress.update(ExtractionProgress{0, 48'000'000, "Holiday Photos/IMG_0001.jpg"});
    progress.window()->show();
    QCoreApplication::processEvents();
    savePicture(*progress.window(), "progress-start");
    progress.update(ExtractionProgress{29'000'000, 48'000'000, "Holiday Photos/IMG_0117.jpg"});
    QCoreApplication::processEvents();
    savePicture(*progress.window(), "progress-midway");
    progress.finish();
}

TEST(Screenshot, DISABLED_FailureAlerts) {
    testing::ensureApplication();
    const std::filesystem::path archive = "/home/user/Downloads/report.rar";
    const std::vector<std::pair<ExtractionError, QString>> failures = {
        {ExtractionError::damaged("report/summary.pdf"), "alert-damaged"},
        {ExtractionError::unsafePath("../../.bashrc"), "alert-unsafe"},
        {ExtractionError::volumeMissing("report.part2.rar"), "alert-volume-missing"},
        {ExtractionError::insufficientSpace(4'200'000'000, 1'100'000'000), "alert-no-space"},
    };
    for (const auto& [error, name] : failures) {
        onNextModal([name = name](QWidget& alert) {
            QCoreApplication::processEvents();
            savePicture(alert, name);
            clickButton(alert, "OK");
        });
        ErrorPresenter::present(error, archive);
    }
}

}  // namespace
}  // namespace tovani
