// The examples at the top of the settings headers, as written there: they
// must compile against the code they describe. Building this file is the test.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDebug>
#include <QLabel>

#include "Settings/AppSettings.h"
#include "Settings/ArchiveTypes.h"
#include "Settings/DefaultAppStatus.h"
#include "TovaniCore/ExtractionOptions.h"

namespace tovani {
namespace {

TEST(HeaderExamplesTest, TheAppSettingsExampleCompiles) {
    [[maybe_unused]] auto example = [](QCheckBox* toggle, ExtractionOptions& options) {
        AppSettings& settings = AppSettings::shared();
        QObject::connect(&settings, &AppSettings::alwaysCreateFolderChanged, toggle,
                         &QCheckBox::setChecked);
        settings.setAlwaysCreateFolder(true);  // announced, then stored and synced
        options.alwaysCreateFolder = settings.alwaysCreateFolder();
    };
}

TEST(HeaderExamplesTest, TheDefaultAppStatusExampleCompiles) {
    [[maybe_unused]] auto example = [](QWidget* window, QLabel* label) {
        auto* status = new DefaultAppStatus(window);  // refreshes at once
        QObject::connect(status, &DefaultAppStatus::refreshed, label,
                         [=] { label->setText(status->currentHandlerName()); });
        if (!status->isDefault())
            status->makeDefault();  // a refresh follows
        for (const auto& type : status->typeStatuses()) {
            qDebug() << readableName(type.type) << type.isDefault << type.handlerName;
        }
        if (!status->isDefaultForAll())
            status->makeDefaultForAll();
    };
}

TEST(HeaderExamplesTest, TheArchiveTypesExampleCompiles) {
    [[maybe_unused]] auto example = [](QLabel* label, QStringList& arguments) {
        for (const ArchiveType& type : archiveTypes()) {
            label->setText(readableName(type));  // "Zip archive", in German "Zip-Archiv"
            arguments << type.name << type.aliases;
        }
    };
}

}  // namespace
}  // namespace tovani
