#include "UI/MainMenu.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QVBoxLayout>

#include "UI/ProgressWindowController.h"
#include "UiTestSupport.h"

namespace tovani {
namespace {

class MainMenuTest : public ::testing::Test {
protected:
    void SetUp() override { testing::ensureApplication(); }
};

// "Title|Shortcut" per item, "-" for a separator.
QStringList describe(QMenu* menu) {
    QStringList items;
    for (QAction* action : menu->actions()) {
        items << (action->isSeparator()
                      ? QString("-")
                      : action->text() + "|" +
                            action->shortcut().toString(QKeySequence::PortableText));
    }
    return items;
}

QAction* item(QMenuBar& bar, const QString& title) {
    for (QAction* top : bar.actions()) {
        for (QAction* action : top->menu()->actions()) {
            if (action->text() == title) {
                return action;
            }
        }
    }
    return nullptr;
}

TEST_F(MainMenuTest, HasTheThreeMenusWithTheirItemsAndShortcuts) {
    std::unique_ptr<QMenuBar> bar = MainMenu::make("Ostrel", [] {});
    const QList<QAction*> menus = bar->actions();
    ASSERT_EQ(menus.size(), 3);
    EXPECT_EQ(menus[0]->text(), "Ostrel");
    EXPECT_EQ(menus[1]->text(), "Edit");
    EXPECT_EQ(menus[2]->text(), "Window");
    EXPECT_EQ(describe(menus[0]->menu()),
              QStringList({"About Ostrel|", "-", "Settings…|Ctrl+,", "-", "Quit Ostrel|Ctrl+Q"}));
    EXPECT_EQ(describe(menus[1]->menu()),
              QStringList({"Cut|Ctrl+X", "Copy|Ctrl+C", "Paste|Ctrl+V", "Select All|Ctrl+A"}));
    EXPECT_EQ(describe(menus[2]->menu()), QStringList({"Close|Ctrl+W"}));
}

TEST_F(MainMenuTest, EmptyAppNameKeepsTheSpaces) {
    std::unique_ptr<QMenuBar> bar = MainMenu::make("", [] {});
    EXPECT_EQ(bar->actions()[0]->text(), "");
    EXPECT_NE(item(*bar, "About "), nullptr);
    EXPECT_NE(item(*bar, "Quit "), nullptr);
}

TEST_F(MainMenuTest, ShortcutsWorkInEveryWindowShownAfterInstall) {
    int settingsShown = 0;
    std::unique_ptr<QMenuBar> bar = MainMenu::make("Ostrel", [&] { ++settingsShown; });
    MainMenu::install(*bar);
    MainMenu::install(*bar);  // a second install adds nothing

    QWidget first, second;
    testing::showActive(first);
    QTest::keyClick(&first, Qt::Key_Comma, Qt::ControlModifier);
    EXPECT_EQ(settingsShown, 1);

    testing::showActive(second);
    QTest::keyClick(&second, Qt::Key_Comma, Qt::ControlModifier);
    EXPECT_EQ(settingsShown, 2);

    QTest::keyClick(&second, Qt::Key_W, Qt::ControlModifier);
    EXPECT_FALSE(second.isVisible());
    EXPECT_TRUE(first.isVisible());
}

TEST_F(MainMenuTest, CloseLeavesAWindowWithoutCloseControlOpen) {
    std::unique_ptr<QMenuBar> bar = MainMenu::make("Ostrel", [] {});
    MainMenu::install(*bar);
    ProgressWindowController progress;
    testing::showActive(*progress.window());
    QTest::keyClick(progress.window(), Qt::Key_W, Qt::ControlModifier);
    EXPECT_TRUE(progress.window()->isVisible());
    progress.finish();
}

TEST_F(MainMenuTest, EditItemsActOnTheFocusedField) {
    std::unique_ptr<QMenuBar> bar = MainMenu::make("Ostrel", [] {});
    QWidget window;
    auto* source = new QLineEdit("hello", &window);
    auto* target = new QLineEdit(&window);
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(source);
    layout->addWidget(target);
    testing::showActive(window);

    source->setFocus();
    item(*bar, "Select All")->trigger();
    EXPECT_EQ(source->selectedText(), "hello");
    item(*bar, "Copy")->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), "hello");
    item(*bar, "Cut")->trigger();
    EXPECT_EQ(source->text(), "");

    target->setFocus();
    item(*bar, "Paste")->trigger();
    EXPECT_EQ(target->text(), "hello");

    // Without a text widget in focus the items do nothing.
    window.setFocus();
    item(*bar, "Paste")->trigger();
    EXPECT_EQ(target->text(), "hello");
}

}  // namespace
}  // namespace tovani
