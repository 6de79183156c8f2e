// Notifier tells the user what happened when no window of the app did: a
// desktop notification with an optional "show it" action. The app talks to
// it through this interface so that tests can record the calls.
//
//   std::unique_ptr<Notifier> notifier = makeDesktopNotifier();
//   notifier->notify("Extracted “movie.rar”", "in Downloads", [] { files.reveal(output); });
//   if (notifier->awaitsAction()) { /* stay a little longer */ }
#pragma once

#include <QString>
#include <functional>
#include <memory>

namespace tovani {

class Notifier {
public:
    virtual ~Notifier() = default;
    // Shows summary and body (both plain text, shown as such whatever the
    // service makes of markup) in a notification; when onShow is set, the
    // notification offers "Show in File Manager", which runs it. Never waits
    // and never reports failure: without a notification service nothing
    // happens.
    virtual void notify(const QString& summary, const QString& body,
                        std::function<void()> onShow) = 0;
    // Whether the action of a notification may still be chosen.
    virtual bool awaitsAction() const = 0;
};

// The desktop's notification service, as the platform reaches it.
std::unique_ptr<Notifier> makeDesktopNotifier();

}  // namespace tovani
