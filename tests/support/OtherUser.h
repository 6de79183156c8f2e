// OtherUser runs part of a test as an ordinary, unprivileged user, since
// root skips the permission checks an attack or a shared folder is about.
// The user is created on first use; the work runs in a forked child that has
// dropped root for good, and the text it returns comes back to the test.
// Rendezvous pauses that child at an exact point while the test acts.
//
//   const OtherUser& user = OtherUser::get();
//   Rendezvous pause;
//   std::string said = user.run([&] { ...; pause.arrive(); ...; return "done"; },
//                               [&] { pause.awaitArrival(); attack(); pause.release(); });
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

namespace tovani::testing {

// A point where a child process stops until the parent lets it go on.
// Made before the fork; each side uses its own two calls.
class Rendezvous {
public:
    Rendezvous();
    ~Rendezvous();
    Rendezvous(const Rendezvous&) = delete;
    Rendezvous& operator=(const Rendezvous&) = delete;

    // Child: announce arrival, then wait for release.
    void arrive();
    // Parent: false when the child exited without arriving.
    bool awaitArrival();
    void release();

private:
    int toParent_[2];
    int toChild_[2];
};

class OtherUser {
public:
    // The dedicated test user, created (with its own group) when missing.
    static const OtherUser& get();

    uid_t uid() const { return uid_; }
    gid_t gid() const { return gid_; }

    // Runs work as this user in a child process and returns the text it
    // returned ("died" when it ended otherwise). meanwhile runs in the
    // parent while the child lives.
    std::string run(const std::function<std::string()>& work,
                    const std::function<void()>& meanwhile = {}) const;

private:
    OtherUser(uid_t uid, gid_t gid) : uid_(uid), gid_(gid) {}
    uid_t uid_;
    gid_t gid_;
};

}  // namespace tovani::testing
