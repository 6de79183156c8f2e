// AppSettings holds the user's three extraction preferences, keeps them in
// QSettings and announces every write, so that the settings window can follow
// them and the app can read them whenever it needs them.
//
//   AppSettings& settings = AppSettings::shared();
//   QObject::connect(&settings, &AppSettings::alwaysCreateFolderChanged, toggle,
//                    &QCheckBox::setChecked);
//   settings.setAlwaysCreateFolder(true);  // announced, then stored and synced
//   options.alwaysCreateFolder = settings.alwaysCreateFolder();
#pragma once

#include <QObject>
#include <QString>
#include <memory>

class QSettings;

namespace tovani {

class AppSettings : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool revealInFinder READ revealInFinder WRITE setRevealInFinder NOTIFY
                   revealInFinderChanged)
    Q_PROPERTY(bool moveArchiveToTrash READ moveArchiveToTrash WRITE setMoveArchiveToTrash NOTIFY
                   moveArchiveToTrashChanged)
    Q_PROPERTY(bool alwaysCreateFolder READ alwaysCreateFolder WRITE setAlwaysCreateFolder NOTIFY
                   alwaysCreateFolderChanged)

public:
    static inline const QString revealInFinderKey = QStringLiteral("revealInFinder");
    static inline const QString moveArchiveToTrashKey = QStringLiteral("moveArchiveToTrash");
    static inline const QString alwaysCreateFolderKey = QStringLiteral("alwaysCreateFolder");

    // The process-wide instance over the user's settings (native format, the
    // application's organisation and name). Made on first use, which must come
    // after those names are set on the application; it lives until the process
    // ends.
    static AppSettings& shared();

    // Uses `store`, which must outlive this object, without owning it.
    explicit AppSettings(QSettings* store, QObject* parent = nullptr);
    // Uses a settings file of the native format at `filePath` (tests).
    explicit AppSettings(const QString& filePath, QObject* parent = nullptr);
    ~AppSettings() override;

    // The values in memory; the store is read only at construction.
    bool revealInFinder() const { return revealInFinder_; }
    bool moveArchiveToTrash() const { return moveArchiveToTrash_; }
    bool alwaysCreateFolder() const { return alwaysCreateFolder_; }

    // Each write emits aboutToChange(), stores the value, writes it to the
    // store and syncs it to disk, also when the value is unchanged; the
    // matching ...Changed signal follows only when the value differs.
    void setRevealInFinder(bool value);
    void setMoveArchiveToTrash(bool value);
    void setAlwaysCreateFolder(bool value);

signals:
    // Emitted before each write of any property, while the old value is
    // still in place.
    void aboutToChange();
    void revealInFinderChanged(bool value);
    void moveArchiveToTrashChanged(bool value);
    void alwaysCreateFolderChanged(bool value);

private:
    AppSettings(std::unique_ptr<QSettings> ownedStore, QSettings* store, QObject* parent);
    [[nodiscard]] bool write(bool& field, bool value, const QString& key);

    std::unique_ptr<QSettings> ownedStore_;
    QSettings* store_;
    bool revealInFinder_ = false;
    bool moveArchiveToTrash_ = false;
    bool alwaysCreateFolder_ = false;
};

}  // namespace tovani
