// The acknowledgements sheet of the settings window: the UnRAR library's
// licence, verbatim, and the ways it is dismissed.
#include "Settings/AcknowledgementsView.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "Settings/SettingsView.h"
#include "Settings/SettingsWindowHarness.h"

namespace tovani {
namespace {

using testing::SettingsWindowTest;

// The licence file of the UnRAR source the library is built from.
QString installedLicense() {
    QFile file(QString::fromUtf8(OSTREL_UNRAR_LICENSE_PATH));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromUtf8(file.readAll());
}

TEST_F(SettingsWindowTest, AcknowledgementsShowTheUnrarLicenceVerbatim) {
    SettingsWindowController& controller = makeController(tool_);
    SettingsView& view = *controller.view();
    controller.show();

    QTest::mouseClick(view.acknowledgementsButton(), Qt::LeftButton);
    AcknowledgementsView* sheet = view.acknowledgements();
    ASSERT_TRUE(view.showsAcknowledgements());
    ASSERT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->size(), QSize(560, 460));
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_TRUE(labelTexts(sheet).contains("Acknowledgements"));
    EXPECT_TRUE(
        labelTexts(sheet).contains("RAR archives are unpacked with the UnRAR source code "
                                   "by Varnholt, used under the following license."));

    const QString license = installedLicense();
    ASSERT_FALSE(license.isEmpty()) << "no UnRAR licence file installed";
    EXPECT_EQ(AcknowledgementsView::license(), license);
    EXPECT_EQ(sheet->licenseView()->toPlainText(), license);
    EXPECT_TRUE(sheet->licenseView()->isReadOnly());
    EXPECT_TRUE(sheet->licenseView()->textInteractionFlags() & Qt::TextSelectableByMouse);
    // What the app asks for, not what the machine's fonts resolve it to.
    const QFont font = sheet->licenseView()->font();
    EXPECT_TRUE(font.fixedPitch());
    EXPECT_EQ(font.styleHint(), QFont::TypeWriter);
    EXPECT_EQ(font.families(), QFontDatabase::systemFont(QFontDatabase::FixedFont).families());

    QTest::mouseClick(sheet->doneButton(), Qt::LeftButton);
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_FALSE(view.showsAcknowledgements());
    EXPECT_TRUE(controller.window()->isVisible());
}

TEST_F(SettingsWindowTest, ReturnDismissesTheAcknowledgements) {
    SettingsWindowController& controller = makeController(tool_);
    SettingsView& view = *controller.view();
    AcknowledgementsView* sheet = view.acknowledgements();
    controller.show();

    // Wherever the focus is in the sheet: on "Done", or in the licence text.
    for (QWidget* focus : {static_cast<QWidget*>(sheet->doneButton()),
                           static_cast<QWidget*>(sheet->licenseView())}) {
        view.showAcknowledgements();
        ASSERT_TRUE(sheet->isVisible());
        QTest::keyClick(focus, Qt::Key_Return);
        EXPECT_FALSE(sheet->isVisible()) << focus->objectName().toStdString();
        EXPECT_FALSE(view.showsAcknowledgements());
    }
}

TEST_F(SettingsWindowTest, ClosingTheWindowEndsTheSheetAndItOpensAgain) {
    SettingsWindowController& controller = makeController(tool_);
    SettingsView& view = *controller.view();
    AcknowledgementsView* sheet = view.acknowledgements();
    controller.show();
    view.showAcknowledgements();
    ASSERT_TRUE(sheet->isVisible());

    controller.window()->close();
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_FALSE(view.showsAcknowledgements());

    controller.show();
    QTest::mouseClick(view.acknowledgementsButton(), Qt::LeftButton);
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->licenseView()->toPlainText(), AcknowledgementsView::license());
}

}  // namespace
}  // namespace tovani
