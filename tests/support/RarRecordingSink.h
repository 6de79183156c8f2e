// RecordingSink is an ArchiveEntrySink for tests: it logs every call in a
// compact form, keeps each file's data, and can be told to decline entries
// or to throw from any of its three operations.
//
//   RecordingSink sink;
//   sink.onBegin = [](const ArchiveEntry& e) { return e.path != "skip.txt"; };
//   RarEngine().extract(archive, std::nullopt, sink);
//   EXPECT_EQ(sink.events, (std::vector<std::string>{"begin a.txt", "write a.txt",
//                                                    "finish a.txt", "begin skip.txt"}));
//   EXPECT_EQ(sink.data["a.txt"], "alpha");
#pragma once

#include <functional>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "TovaniCore/ArchiveEntrySink.h"

namespace tovani::testing {

class RecordingSink : public ArchiveEntrySink {
public:
    // "begin <path>", "write <path>" (consecutive chunks of one entry make one
    // event, so chunk sizes do not matter), "finish <path>".
    std::vector<std::string> events;
    // Data received per entry path.
    std::map<std::string, std::string> data;
    // Every entry begin() received, in order.
    std::vector<ArchiveEntry> begun;

    // Hooks: begin's result (default true), and extra work (such as
    // throwing) done by write and finish after recording the call.
    std::function<bool(const ArchiveEntry&)> onBegin;
    std::function<void(std::span<const std::byte>)> onWrite;
    std::function<void(const ArchiveEntry&)> onFinish;

    bool begin(const ArchiveEntry& entry) override {
        current_ = entry.path;
        events.push_back("begin " + entry.path);
        begun.push_back(entry);
        return onBegin ? onBegin(entry) : true;
    }

    void write(std::span<const std::byte> chunk) override {
        const std::string event = "write " + current_;
        if (events.empty() || events.back() != event) {
            events.push_back(event);
        }
        data[current_].append(reinterpret_cast<const char*>(chunk.data()), chunk.size());
        if (onWrite) {
            onWrite(chunk);
        }
    }

    void finish(const ArchiveEntry& entry) override {
        events.push_back("finish " + entry.path);
        if (onFinish) {
            onFinish(entry);
        }
    }

private:
    std::string current_;
};

}  // namespace tovani::testing
