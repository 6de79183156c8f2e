// BatchPassword remembers, for one batch of archives, the password that
// opened an archive, so that the next encrypted archive tries it before the
// user is asked. It lives only in memory, and every copy it held is
// overwritten when it is replaced or the batch ends.
//
//   BatchPassword passwords;
//   passwords.jobStarted();
//   auto answer = passwords.answer(request, [](const PasswordRequest& r) {
//       return PasswordPrompt::run(r);
//   });
//   passwords.jobSucceeded();  // the answer opened the archive: keep it
//   passwords.batchEnded();    // wiped
//
// Main thread only.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "TovaniCore/PasswordRequest.h"

namespace tovani {

class BatchPassword {
public:
    using Ask = std::function<std::optional<std::string>(const PasswordRequest&)>;

    BatchPassword() = default;
    BatchPassword(const BatchPassword&) = delete;
    BatchPassword& operator=(const BatchPassword&) = delete;
    ~BatchPassword();

    // A new job begins: nothing of it has been tried yet.
    void jobStarted();
    // The answer to the job's request: the remembered password on its first
    // request, otherwise what ask returns. When the remembered password was
    // refused, the user's first prompt reads as a first request, since the
    // user has typed nothing for this archive yet.
    std::optional<std::string> answer(const PasswordRequest& request, const Ask& ask);
    // The job succeeded: the password that opened it is kept for the batch.
    void jobSucceeded();
    // The job failed or was cancelled: its answers are wiped.
    void jobFailed();
    // The batch is over: everything is wiped.
    void batchEnded();

    bool remembers() const { return remembered_.has_value(); }

private:
    std::optional<std::string> remembered_;
    std::optional<std::string> lastAnswer_;
    bool triedRemembered_ = false;
    bool askedUser_ = false;
};

// Overwrites the text's characters and empties it (its buffer is kept).
void wipe(std::string& secret);
// Overwrites the text's characters before it is dropped.
void wipe(std::optional<std::string>& secret);

}  // namespace tovani
