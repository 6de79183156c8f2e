// SettingsView is the content of the settings window: whether Ostrel opens
// RAR archives by default (with a button to make it so), for how many of the
// archive types it opens it is the default (with a button to make it so for
// all, and a list of each type's default app to unfold), the three extraction
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
class QToolButton;

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
    QLabel* typesSummary() const { return typesSummary_; }
    QPushButton* setDefaultForAllButton() const { return setDefaultForAllButton_; }
    QToolButton* typesToggle() const { return typesToggle_; }
    // The unfolded list: per archive type, its readable name and the app that
    // opens it (the handler label's "showsDefault" property is true for this
    // app), in the order of DefaultAppStatus::typeStatuses().
    QWidget* typeList() const { return typeList_; }
    QLabel* typeNameLabel(qsizetype index) const { return typeRows_.at(index).name; }
    QLabel* typeHandlerLabel(qsizetype index) const { return typeRows_.at(index).handler; }
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
    QLayout* makeTypesRow();
    void updateTypes();
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
    QLabel* typesSummary_ = nullptr;
    QPushButton* setDefaultForAllButton_ = nullptr;
    QToolButton* typesToggle_ = nullptr;
    QWidget* typeList_ = nullptr;
    struct TypeRow {
        QLabel* mark;
        QLabel* name;
        QLabel* handler;
    };
    QList<TypeRow> typeRows_;
    QComboBox* revealPicker_ = nullptr;
    QComboBox* trashPicker_ = nullptr;
    QCheckBox* folderToggle_ = nullptr;
    QLabel* versionLabel_ = nullptr;
    QPushButton* acknowledgementsButton_ = nullptr;
    QPushButton* aboutButton_ = nullptr;
    AcknowledgementsView* acknowledgements_ = nullptr;
};

}  // namespace tovani
