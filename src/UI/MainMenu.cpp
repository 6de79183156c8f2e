#include "UI/MainMenu.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QWidget>

#include "UI/OrdinaryWindow.h"
#include "UI/RunModal.h"

namespace tovani::MainMenu {
namespace {

class Texts {
    Q_DECLARE_TR_FUNCTIONS(MainMenu)
};

QAction* addItem(QMenu* menu, const QString& title, QKeySequence key,
                 std::function<void()> action) {
    QAction* item = menu->addAction(title);
    item->setShortcut(key);
    QObject::connect(item, &QAction::triggered, item, std::move(action));
    return item;
}

// The edit actions travel to the focused widget, as a responder chain would:
// text widgets offer cut(), copy(), paste() and selectAll() slots.
void sendToFocusWidget(const char* slot) {
    QWidget* target = QApplication::focusWidget();
    if (target == nullptr) {
        return;
    }
    const QByteArray signature = QByteArray(slot) + "()";
    if (target->metaObject()->indexOfMethod(signature.constData()) >= 0) {
        QMetaObject::invokeMethod(target, slot);
    }
}

// A window made without a close control (the progress window) refuses to be
// closed from the menu as well.
void closeActiveWindow() {
    QWidget* window = QApplication::activeWindow();
    if (window == nullptr) {
        return;
    }
    const Qt::WindowFlags flags = window->windowFlags();
    if (flags.testFlag(Qt::CustomizeWindowHint) && !flags.testFlag(Qt::WindowCloseButtonHint)) {
        QApplication::beep();
        return;
    }
    window->close();
}

// Watches the whole application for windows coming on screen and gives each
// the menu bar's actions as window shortcuts. Lives as a child of the menu
// bar, so the shortcuts go away with it.
class ShortcutInstaller : public QObject {
public:
    static constexpr const char* name = "ostrelShortcutInstaller";

    explicit ShortcutInstaller(QMenuBar& menuBar) : QObject(&menuBar) {
        setObjectName(name);
        for (QAction* top : menuBar.actions()) {
            if (QMenu* menu = top->menu()) {
                for (QAction* item : menu->actions()) {
                    if (!item->isSeparator()) {
                        actions_.append(item);
                    }
                }
            }
        }
        for (QWidget* window : QApplication::topLevelWidgets()) {
            adopt(window);
        }
        qApp->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && watched->isWidgetType()) {
            adopt(static_cast<QWidget*>(watched));
        }
        return false;
    }

private:
    void adopt(QWidget* window) {
        if (isOrdinaryWindow(*window)) {
            // Adding an action a widget already has changes nothing.
            window->addActions(actions_);
        }
    }

    QList<QAction*> actions_;
};

}  // namespace

void showAbout(const QString& appName) {
    QMessageBox box;
    box.setObjectName("aboutBox");
    box.setWindowTitle(Texts::tr("About %1").arg(appName));
    box.setText(QStringLiteral("<b>%1</b>").arg(appName.toHtmlEscaped()));
    // What the settings window's Acknowledgements says, in short, and where
    // the project lives; plain text, one fact per line.
    box.setInformativeText(
        QStringList{Texts::tr("Version %1").arg(QCoreApplication::applicationVersion()),
                    Texts::tr("Released under the MIT License."),
                    Texts::tr("RAR archives are unpacked with the UnRAR source code by Varnholt."),
                    QStringLiteral(OSTREL_HOMEPAGE)}
            .join(QLatin1Char('\n')));
    const QIcon icon = QApplication::windowIcon();
    if (!icon.isNull()) {
        box.setIconPixmap(icon.pixmap(64, 64));
    }
    runModal(box);
}

std::unique_ptr<QMenuBar> make(const QString& appName, std::function<void()> showSettings) {
    auto menuBar = std::make_unique<QMenuBar>(nullptr);

    QMenu* application = menuBar->addMenu(appName);
    QAction* about = addItem(application, Texts::tr("About %1").arg(appName), QKeySequence(),
                             [appName] { showAbout(appName); });
    about->setMenuRole(QAction::AboutRole);
    application->addSeparator();
    QAction* settings = addItem(application, Texts::tr("Settings…"),
                                QKeySequence(Qt::CTRL | Qt::Key_Comma), std::move(showSettings));
    settings->setMenuRole(QAction::PreferencesRole);
    application->addSeparator();
    QAction* quit = addItem(application, Texts::tr("Quit %1").arg(appName),
                            QKeySequence(Qt::CTRL | Qt::Key_Q), [] { QCoreApplication::quit(); });
    quit->setMenuRole(QAction::QuitRole);

    QMenu* edit = menuBar->addMenu(Texts::tr("Edit"));
    addItem(edit, Texts::tr("Cut"), QKeySequence(Qt::CTRL | Qt::Key_X),
            [] { sendToFocusWidget("cut"); });
    addItem(edit, Texts::tr("Copy"), QKeySequence(Qt::CTRL | Qt::Key_C),
            [] { sendToFocusWidget("copy"); });
    addItem(edit, Texts::tr("Paste"), QKeySequence(Qt::CTRL | Qt::Key_V),
            [] { sendToFocusWidget("paste"); });
    addItem(edit, Texts::tr("Select All"), QKeySequence(Qt::CTRL | Qt::Key_A),
            [] { sendToFocusWidget("selectAll"); });

    QMenu* window = menuBar->addMenu(Texts::tr("Window"));
    addItem(window, Texts::tr("Close"), QKeySequence(Qt::CTRL | Qt::Key_W), closeActiveWindow);

    return menuBar;
}

void install(QMenuBar& menuBar) {
    if (menuBar.findChild<QObject*>(ShortcutInstaller::name, Qt::FindDirectChildrenOnly) ==
        nullptr) {
        new ShortcutInstaller(menuBar);
    }
}

}  // namespace tovani::MainMenu
