#include "Settings/AppSettings.h"

#include <QCoreApplication>
#include <QSettings>

namespace tovani {

AppSettings& AppSettings::shared() {
    // Never destroyed: it must outlive every user, the application object
    // included, and there is nothing to save at exit.
    static AppSettings* const instance =
        new AppSettings(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                                    QCoreApplication::organizationName(),
                                                    QCoreApplication::applicationName()),
                        nullptr, nullptr);
    return *instance;
}

AppSettings::AppSettings(QSettings* store, QObject* parent) : AppSettings(nullptr, store, parent) {}

AppSettings::AppSettings(const QString& filePath, QObject* parent)
    : AppSettings(std::make_unique<QSettings>(filePath, QSettings::NativeFormat), nullptr, parent) {
}

AppSettings::AppSettings(std::unique_ptr<QSettings> ownedStore, QSettings* store, QObject* parent)
    : QObject(parent),
      ownedStore_(std::move(ownedStore)),
      store_(ownedStore_ ? ownedStore_.get() : store) {
    // A key holding something else than a Boolean reads by QVariant's rules;
    // an absent key reads false.
    revealInFinder_ = store_->value(revealInFinderKey, false).toBool();
    moveArchiveToTrash_ = store_->value(moveArchiveToTrashKey, false).toBool();
    alwaysCreateFolder_ = store_->value(alwaysCreateFolderKey, false).toBool();
}

AppSettings::~AppSettings() = default;

void AppSettings::setRevealInFinder(bool value) {
    if (write(revealInFinder_, value, revealInFinderKey)) {
        emit revealInFinderChanged(value);
    }
}

void AppSettings::setMoveArchiveToTrash(bool value) {
    if (write(moveArchiveToTrash_, value, moveArchiveToTrashKey)) {
        emit moveArchiveToTrashChanged(value);
    }
}

void AppSettings::setAlwaysCreateFolder(bool value) {
    if (write(alwaysCreateFolder_, value, alwaysCreateFolderKey)) {
        emit alwaysCreateFolderChanged(value);
    }
}

bool AppSettings::write(bool& field, bool value, const QString& key) {
    emit aboutToChange();
    const bool changed = field != value;
    field = value;
    // Written through at once: quitting right after a change must keep it.
    store_->setValue(key, field);
    store_->sync();
    return changed;
}

}  // namespace tovani
