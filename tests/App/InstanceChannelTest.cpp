#include "App/InstanceChannel.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QEventLoop>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "App/QueueTestSupport.h"
#include "support/TempDirectory.h"

namespace tovani::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Role = InstanceChannel::Role;

// Collects every request a channel passes on.
struct Received {
    explicit Received(InstanceChannel& channel) {
        QObject::connect(&channel, &InstanceChannel::requested,
                         [this](const QStringList& files) { requests.append(files); });
    }
    QList<QStringList> requests;
};

// Runs work on a QThread, which (unlike a plain thread) can serve sockets.
template <class Work>
std::future<Role> onQThread(Work work, std::vector<std::unique_ptr<QThread>>& threads) {
    auto task = std::make_shared<std::packaged_task<Role()>>(std::move(work));
    std::future<Role> result = task->get_future();
    threads.emplace_back(QThread::create([task] { (*task)(); }));
    threads.back()->start();
    return result;
}

bool serveUntilReady(const std::future<Role>& launched) {
    return queue::waitFor([&] { return launched.wait_for(0s) == std::future_status::ready; });
}

class InstanceChannelTest : public ::testing::Test {
protected:
    void SetUp() override { queue::ensureApplication(); }

    void TearDown() override {
        for (auto& thread : threads) {
            thread->wait();
        }
    }

    // A second launch, on a thread of its own so that this thread's instance
    // can answer it.
    std::future<Role> launch(QStringList files, std::chrono::milliseconds ackTimeout = 3000ms) {
        return onQThread(
            [name = name, files = std::move(files), ackTimeout] {
                InstanceChannel channel(name, ackTimeout);
                return channel.start(files);
            },
            threads);
    }

    TempDirectory dir;
    const QString name = QFile::decodeName((dir / "ostrel.socket").c_str());
    std::vector<std::unique_ptr<QThread>> threads;
};

TEST_F(InstanceChannelTest, FirstLaunchListensAndLaterLaunchesHandTheirFilesOver) {
    InstanceChannel instance(name);
    ASSERT_EQ(instance.start({"/home/me/first.rar"}), Role::server);
    EXPECT_TRUE(instance.isListening());
    Received received(instance);

    std::future<Role> second = launch({"/home/me/a.rar", "/home/me/b.rar"});
    ASSERT_TRUE(serveUntilReady(second));
    EXPECT_EQ(second.get(), Role::handedOver);
    std::future<Role> reopen = launch({});
    ASSERT_TRUE(serveUntilReady(reopen));
    EXPECT_EQ(reopen.get(), Role::handedOver);

    EXPECT_EQ(received.requests,
              (QList<QStringList>{{"/home/me/a.rar", "/home/me/b.rar"}, QStringList{}}));
}

TEST_F(InstanceChannelTest, ClosedInstanceLeavesTheNameToTheNextLaunch) {
    {
        InstanceChannel instance(name);
        ASSERT_EQ(instance.start({}), Role::server);
        instance.close();
        EXPECT_FALSE(instance.isListening());
        EXPECT_FALSE(QFile::exists(name));
    }
    InstanceChannel next(name);
    EXPECT_EQ(next.start({"/home/me/a.rar"}), Role::server);
}

TEST_F(InstanceChannelTest, SocketLeftByADeadInstanceIsReplaced) {
    // A bound socket whose process is gone: the file stays, nobody listens.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(name);
    std::memcpy(address.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
    ASSERT_TRUE(QFile::exists(name));

    InstanceChannel instance(name);
    ASSERT_EQ(instance.start({"/home/me/a.rar"}), Role::server);
    Received received(instance);
    std::future<Role> second = launch({"/home/me/b.rar"});
    ASSERT_TRUE(serveUntilReady(second));
    EXPECT_EQ(second.get(), Role::handedOver);
    EXPECT_EQ(received.requests, (QList<QStringList>{{"/home/me/b.rar"}}));
}

TEST_F(InstanceChannelTest, ManyLaunchesAtOnceReachTheRunningInstanceWithNothingLost) {
    InstanceChannel instance(name);
    ASSERT_EQ(instance.start({}), Role::server);
    Received received(instance);

    std::vector<std::future<Role>> launches;
    for (int i = 0; i < 12; ++i) {
        launches.push_back(launch({QStringLiteral("/home/me/%1.rar").arg(i)}));
    }
    std::set<std::string> expected;
    for (int i = 0; i < 12; ++i) {
        expected.insert("/home/me/" + std::to_string(i) + ".rar");
        ASSERT_TRUE(serveUntilReady(launches[static_cast<std::size_t>(i)]));
        EXPECT_EQ(launches[static_cast<std::size_t>(i)].get(), Role::handedOver);
    }
    std::set<std::string> got;
    for (const QStringList& request : received.requests) {
        for (const QString& file : request) {
            got.insert(file.toStdString());
        }
    }
    EXPECT_EQ(got, expected);
    EXPECT_EQ(received.requests.size(), 12);
}

TEST_F(InstanceChannelTest, LaunchesStartingTogetherAgreeOnOneInstance) {
    // Each launch runs on its own thread; the one that becomes the instance
    // serves the others until every launch has ended.
    constexpr int count = 6;
    std::atomic<int> finished{0};
    std::mutex mutex;
    std::vector<std::string> served;
    auto run = [&](int index) {
        InstanceChannel channel(name);
        QObject::connect(&channel, &InstanceChannel::requested, [&](const QStringList& files) {
            std::lock_guard<std::mutex> lock(mutex);
            for (const QString& file : files) {
                served.push_back(file.toStdString());
            }
        });
        const QString file = QStringLiteral("/home/me/%1.rar").arg(index);
        const Role role = channel.start({file});
        ++finished;
        if (role == Role::server) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                served.push_back(file.toStdString());
            }
            QEventLoop loop;
            const auto deadline = std::chrono::steady_clock::now() + 20s;
            while (finished < count && std::chrono::steady_clock::now() < deadline) {
                loop.processEvents(QEventLoop::AllEvents, 20);
            }
        }
        return role;
    };
    std::vector<std::future<Role>> launches;
    for (int i = 0; i < count; ++i) {
        launches.push_back(onQThread([&run, i] { return run(i); }, threads));
    }
    int servers = 0;
    int handedOver = 0;
    for (auto& launched : launches) {
        const Role role = launched.get();
        servers += role == Role::server ? 1 : 0;
        handedOver += role == Role::handedOver ? 1 : 0;
    }
    EXPECT_EQ(servers, 1);
    EXPECT_EQ(handedOver, count - 1);
    std::set<std::string> expected;
    for (int i = 0; i < count; ++i) {
        expected.insert("/home/me/" + std::to_string(i) + ".rar");
    }
    EXPECT_EQ(std::set<std::string>(served.begin(), served.end()), expected);
    EXPECT_EQ(served.size(), static_cast<std::size_t>(count));
}

TEST_F(InstanceChannelTest, InstanceThatClosesBeforeAnsweringLeavesTheFilesToTheLaunch) {
    InstanceChannel instance(name);
    ASSERT_EQ(instance.start({}), Role::server);
    Received received(instance);

    // The instance decides to quit while the launch waits for its answer.
    std::future<Role> late = launch({"/home/me/late.rar"});
    std::this_thread::sleep_for(300ms);
    instance.close();
    ASSERT_EQ(late.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(late.get(), Role::server);
    // Whatever reached the closed instance has been delivered by now.
    QCoreApplication::processEvents();
    EXPECT_TRUE(received.requests.isEmpty());
}

TEST_F(InstanceChannelTest, InstanceThatDoesNotAnswerIsLeftAloneAndTheLaunchHandlesItsFiles) {
    InstanceChannel instance(name);
    ASSERT_EQ(instance.start({}), Role::server);

    const auto started = std::chrono::steady_clock::now();
    std::future<Role> launched = launch({"/home/me/a.rar"}, 400ms);
    ASSERT_EQ(launched.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(launched.get(), Role::standalone);
    EXPECT_GE(std::chrono::steady_clock::now() - started, 400ms);
    EXPECT_TRUE(instance.isListening());
}

TEST_F(InstanceChannelTest, NameLivesInTheUsersRuntimeDirectoryOrNowhere) {
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    fs::create_directories(dir / "run");
    fs::permissions(dir / "run", fs::perms::owner_all);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(QFile::decodeName((dir / "run").c_str())));
    const QString name = InstanceChannel::defaultName();
    if (saved.isNull()) {
        qunsetenv("XDG_RUNTIME_DIR");
    } else {
        qputenv("XDG_RUNTIME_DIR", saved);
    }
    EXPECT_EQ(name, QFile::decodeName((dir / "run").c_str()) +
                        QStringLiteral("/org.ostrel.Ostrel-%1").arg(::getuid()));

    InstanceChannel nowhere{QString()};
    EXPECT_EQ(nowhere.start({"/home/me/a.rar"}), Role::standalone);
    EXPECT_FALSE(nowhere.isListening());
}

}  // namespace
}  // namespace tovani::testing
