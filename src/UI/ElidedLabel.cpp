#include "UI/ElidedLabel.h"

#include <QPainter>
#include <QStyle>

namespace tovani {

ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

QString ElidedLabel::displayedText() const {
    return fontMetrics().elidedText(text(), Qt::ElideMiddle, contentsRect().width());
}

// The height of one line whether or not there is text, so that rows do not
// jump when a label is emptied.
QSize ElidedLabel::minimumSizeHint() const {
    return {0, fontMetrics().height()};
}

QSize ElidedLabel::sizeHint() const {
    return {fontMetrics().horizontalAdvance(text()), fontMetrics().height()};
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    style()->drawItemText(&painter, contentsRect(), int(alignment() | Qt::AlignVCenter), palette(),
                          isEnabled(), displayedText(), foregroundRole());
}

}  // namespace tovani
