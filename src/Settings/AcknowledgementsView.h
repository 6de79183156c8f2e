// AcknowledgementsView is the sheet of the settings window that credits the
// UnRAR code and shows its licence, verbatim, in a selectable monospaced text
// area. "Done" (or Return) dismisses it.
//
//   auto* sheet = new AcknowledgementsView(settingsWindow);
//   sheet->open();  // window-modal; finished() follows its dismissal
#pragma once

#include <QDialog>

class QPlainTextEdit;
class QPushButton;

namespace tovani {

class AcknowledgementsView : public QDialog {
    Q_OBJECT

public:
    static constexpr int width = 560;
    static constexpr int height = 460;

    explicit AcknowledgementsView(QWidget* parent = nullptr);

    // The licence text from the app's resources, read once per process as
    // UTF-8; empty when the resource is missing or is not valid UTF-8.
    static const QString& license();

    QPlainTextEdit* licenseView() const { return licenseView_; }
    QPushButton* doneButton() const { return doneButton_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QPlainTextEdit* licenseView_ = nullptr;
    QPushButton* doneButton_ = nullptr;
};

}  // namespace tovani
