// Ostrel's entry point: one running instance per user takes every archive
// the user opens; a later launch hands its files over and ends.
#include <QApplication>
#include <QFileInfo>
#include <QIcon>
#include <QLocale>
#include <QUrl>
#include <filesystem>
#include <vector>

#include "App/AppDelegate.h"
#include "App/InstanceChannel.h"
#include "App/TerminationSignals.h"
#include "App/Translations.h"
#include "Settings/AppResources.h"
#include "Settings/AppSettings.h"

namespace {

// The desktop file passes local paths (%F); file URLs are taken as well.
QStringList absoluteFiles(const QStringList& arguments) {
    QStringList files;
    for (const QString& argument : arguments) {
        const QUrl url(argument);
        const QString path = url.isLocalFile() ? url.toLocalFile() : argument;
        if (!path.isEmpty()) {
            files.append(QFileInfo(path).absoluteFilePath());
        }
    }
    return files;
}

std::vector<std::filesystem::path> toPaths(const QStringList& files) {
    std::vector<std::filesystem::path> paths;
    paths.reserve(static_cast<std::size_t>(files.size()));
    for (const QString& file : files) {
        paths.emplace_back(QFile::encodeName(file).toStdString());
    }
    return paths;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral(OSTREL_APP_NAME));
    QCoreApplication::setApplicationName(QStringLiteral(OSTREL_APP_NAME));
    QCoreApplication::setApplicationVersion(QStringLiteral(OSTREL_APP_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral(OSTREL_APP_ID));
    // The idle check decides when to quit, not the last window.
    QApplication::setQuitOnLastWindowClosed(false);
    tovani::AppResources::initialize();
    tovani::Translations::install(QLocale::system());
    QApplication::setWindowIcon(QIcon(tovani::AppResources::iconPath));

    const QStringList files = absoluteFiles(QCoreApplication::arguments().mid(1));
    tovani::InstanceChannel channel(tovani::InstanceChannel::defaultName());
    if (channel.start(files) == tovani::InstanceChannel::Role::handedOver) {
        return 0;
    }

    // Logout, a closed terminal or `kill` end the running job cleanly; made
    // first so that it still holds while the delegate waits for the job.
    tovani::TerminationSignals termination;
    tovani::AppDelegate delegate(tovani::AppSettings::shared());
    QObject::connect(&termination, &tovani::TerminationSignals::received, &delegate,
                     &tovani::AppDelegate::terminate);
    QObject::connect(&channel, &tovani::InstanceChannel::requested, &delegate,
                     [&delegate](const QStringList& requested) {
                         if (requested.isEmpty()) {
                             delegate.reopen();
                         } else {
                             delegate.open(toPaths(requested));
                         }
                     });
    // Launches that come while the process ends keep their files.
    QObject::connect(&delegate, &tovani::AppDelegate::quitting, &channel,
                     &tovani::InstanceChannel::close);
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &channel,
                     &tovani::InstanceChannel::close);

    delegate.willFinishLaunching();
    if (!files.isEmpty()) {
        delegate.open(toPaths(files));
    }
    delegate.didFinishLaunching();
    return QApplication::exec();
}
