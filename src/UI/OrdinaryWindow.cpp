#include "UI/OrdinaryWindow.h"

#include <QMenuBar>
#include <QWidget>

namespace tovani {

bool isOrdinaryWindow(const QWidget& widget) {
    if (!widget.isWindow()) {
        return false;
    }
    const Qt::WindowType type = widget.windowType();
    return type != Qt::Popup && type != Qt::ToolTip && type != Qt::SplashScreen &&
           qobject_cast<const QMenuBar*>(&widget) == nullptr;
}

}  // namespace tovani
