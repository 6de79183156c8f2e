#include "App/BatchPassword.h"

#include <string.h>

namespace tovani {

void wipe(std::string& secret) {
    // explicit_bzero is never optimised away, unlike a plain fill.
    explicit_bzero(secret.data(), secret.size());
    secret.clear();
}

void wipe(std::optional<std::string>& secret) {
    if (secret) {
        wipe(*secret);
        secret.reset();
    }
}

BatchPassword::~BatchPassword() {
    batchEnded();
}

void BatchPassword::jobStarted() {
    wipe(lastAnswer_);
    triedRemembered_ = false;
    askedUser_ = false;
}

std::optional<std::string> BatchPassword::answer(const PasswordRequest& request, const Ask& ask) {
    if (remembered_ && !triedRemembered_ && !request.isRetry) {
        triedRemembered_ = true;
        lastAnswer_ = remembered_;
        return remembered_;
    }
    PasswordRequest shown = request;
    if (triedRemembered_ && !askedUser_) {
        shown.isRetry = false;
    }
    askedUser_ = true;
    std::optional<std::string> typed = ask(shown);
    wipe(lastAnswer_);
    lastAnswer_ = typed;
    return typed;
}

void BatchPassword::jobSucceeded() {
    if (lastAnswer_) {
        wipe(remembered_);
        // A copy, not a move: a moved-from short string keeps its characters.
        remembered_ = lastAnswer_;
        wipe(lastAnswer_);
    }
}

void BatchPassword::jobFailed() {
    wipe(lastAnswer_);
}

void BatchPassword::batchEnded() {
    wipe(lastAnswer_);
    wipe(remembered_);
    triedRemembered_ = false;
    askedUser_ = false;
}

}  // namespace tovani
