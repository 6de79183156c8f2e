// ElidedLabel is a one-line label that shortens its text in the middle ("…")
// when it is narrower than the text, instead of widening its window.
//
//   auto* label = new ElidedLabel(window);
//   label->setText("a/very/long/path/to/some/file.txt");  // shows "a/very/lo…/file.txt"
#pragma once

#include <QLabel>

namespace tovani {

class ElidedLabel : public QLabel {
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    // The text as drawn at the current width.
    QString displayedText() const;

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace tovani
