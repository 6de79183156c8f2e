#include "support/OtherUser.h"

#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace tovani::testing {

namespace {

constexpr const char* userName = "ostrel-tester";

void readByte(int descriptor, bool& got) {
    char byte = 0;
    ssize_t count;
    do {
        count = ::read(descriptor, &byte, 1);
    } while (count < 0 && errno == EINTR);
    got = count == 1;
}

void writeByte(int descriptor) {
    const char byte = 1;
    ssize_t count;
    do {
        count = ::write(descriptor, &byte, 1);
    } while (count < 0 && errno == EINTR);
}

}  // namespace

Rendezvous::Rendezvous() {
    if (::pipe2(toParent_, O_CLOEXEC) != 0 || ::pipe2(toChild_, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe");
    }
}

Rendezvous::~Rendezvous() {
    for (int descriptor : {toParent_[0], toParent_[1], toChild_[0], toChild_[1]}) {
        ::close(descriptor);
    }
}

void Rendezvous::arrive() {
    writeByte(toParent_[1]);
    bool got = false;
    readByte(toChild_[0], got);
}

bool Rendezvous::awaitArrival() {
    // The parent's own write end would keep the read from ever ending.
    ::close(toParent_[1]);
    toParent_[1] = -1;
    bool got = false;
    readByte(toParent_[0], got);
    return got;
}

void Rendezvous::release() {
    writeByte(toChild_[1]);
}

const OtherUser& OtherUser::get() {
    static const OtherUser user = [] {
        if (::getpwnam(userName) == nullptr) {
            const std::string command = std::string(
                                            "useradd --system --user-group --no-create-home "
                                            "--shell /usr/sbin/nologin ") +
                                        userName + " >/dev/null 2>&1";
            if (std::system(command.c_str()) != 0 && ::getpwnam(userName) == nullptr) {
                throw std::runtime_error("cannot create the test user");
            }
        }
        const passwd* entry = ::getpwnam(userName);
        return OtherUser(entry->pw_uid, entry->pw_gid);
    }();
    return user;
}

std::string OtherUser::run(const std::function<std::string()>& work,
                           const std::function<void()>& meanwhile) const {
    int result[2];
    if (::pipe2(result, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe");
    }
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0) {
        throw std::runtime_error("fork");
    }
    if (child == 0) {
        ::close(result[0]);
        if (::setgroups(0, nullptr) != 0 || ::setresgid(gid_, gid_, gid_) != 0 ||
            ::setresuid(uid_, uid_, uid_) != 0) {
            ::_exit(125);
        }
        std::string text = "died";
        try {
            text = work();
        } catch (const std::exception& error) {
            text = std::string("exception: ") + error.what();
        } catch (...) {
            text = "exception";
        }
        std::size_t at = 0;
        while (at < text.size()) {
            const ssize_t count = ::write(result[1], text.data() + at, text.size() - at);
            if (count <= 0) {
                break;
            }
            at += static_cast<std::size_t>(count);
        }
        ::_exit(0);
    }
    ::close(result[1]);
    if (meanwhile) {
        meanwhile();
    }
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(result[0], buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(count));
    }
    ::close(result[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return "died";
    }
    return text;
}

}  // namespace tovani::testing
