// SettingsView is the content of the settings window: whether Ostrel opens
// RAR archives by default (with a button to make it so), the three extraction
// preferences bound to AppSettings, the version, and the button that opens
// the acknowledgements sheet. Every change is stored the moment it is made;
// the view follows changes of the settings and of the status from elsewhere.
//
//   SettingsView view(AppSettings::shared(), status);
//   view.revealPicker()->setCurrentIndex(1);  // settings.revealInFinder() is now true
#pragma once

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace tovani {

class AcknowledgementsView;
class AppSettings;
class DefaultAppStatus;

class SettingsView : public QWidget {
    Q_OBJECT

public:
    static constexpr int width = 480;

    // Both objects must outlive the view.
    SettingsView(AppSettings& settings, DefaultAppStatus& defaultApp, QWidget* parent = nullptr);

    // Whether the acknowledgements sheet is presented.
    bool showsAcknowledgements() const { return showsAcknowledgements_; }
    // Presents the sheet, as "Acknowledgements…" does.
    void showAcknowledgements();

    // The controls, named after what they show (for tests and accessibility).
    QLabel* statusIcon() const { return statusIcon_; }
    QLabel* statusTitle() const { return statusTitle_; }
    QLabel* handlerLine() const { return handlerLine_; }
    QPushButton* setDefaultButton() const { return setDefaultButton_; }
    QComboBox* revealPicker() const { return revealPicker_; }
    QComboBox* trashPicker() const { return trashPicker_; }
    QCheckBox* folderToggle() const { return folderToggle_; }
    QLabel* versionLabel() const { return versionLabel_; }
    QPushButton* acknowledgementsButton() const { return acknowledgementsButton_; }
    QPushButton* aboutButton() const { return aboutButton_; }
    AcknowledgementsView* acknowledgements() const { return acknowledgements_; }

signals:
    // The content changed in a way that may change the height it needs.
    void contentHeightChanged();

protected:
    void hideEvent(QHideEvent* event) override;

private:
    QWidget* makeStatusSection();
    QWidget* makeExtractionSection();
    QWidget* makeAboutSection();
    void updateStatus();
    void updatePreferences();

    AppSettings& settings_;
    DefaultAppStatus& defaultApp_;
    bool showsAcknowledgements_ = false;

    QLabel* statusIcon_ = nullptr;
    QLabel* statusTitle_ = nullptr;
    QLabel* handlerLine_ = nullptr;
    QPushButton* setDefaultButton_ = nullptr;
    QComboBox* revealPicker_ = nullptr;
    QComboBox* trashPicker_ = nullptr;
    QCheckBox* folderToggle_ = nullptr;
    QLabel* versionLabel_ = nullptr;
    QPushButton* acknowledgementsButton_ = nullptr;
    QPushButton* aboutButton_ = nullptr;
    AcknowledgementsView* acknowledgements_ = nullptr;
};

}  // namespace tovani
