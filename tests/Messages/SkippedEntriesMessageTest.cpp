#include "Messages/SkippedEntriesMessage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tovani {
namespace {

const std::string note =
    "Links that point outside the extraction folder, or whose destination cannot be verified, "
    "are skipped for safety.\n\n";

std::vector<SkippedEntry> entries(int count) {
    std::vector<SkippedEntry> result;
    for (int i = 1; i <= count; ++i) {
        result.push_back({"dir/link" + std::to_string(i),
                          i % 2 == 0 ? SkippedEntry::Reason::unsafeLinkTarget
                                     : SkippedEntry::Reason::unreadableLinkTarget});
    }
    return result;
}

std::string bullets(int count) {
    std::string result;
    for (int i = 1; i <= count; ++i) {
        result += (i > 1 ? "\n• dir/link" : "• dir/link") + std::to_string(i);
    }
    return result;
}

std::string detail(int count) {
    auto message = skippedEntriesMessage(entries(count), "Photos.rar");
    return message ? message->detail.toStdString() : "(none)";
}

TEST(SkippedEntriesMessage, NothingToReport) {
    EXPECT_EQ(skippedEntriesMessage({}, "Photos.rar"), std::nullopt);
}

TEST(SkippedEntriesMessage, ListsEntriesInOrderUnderTheNote) {
    auto message = skippedEntriesMessage(entries(1), "Photos.rar");
    ASSERT_TRUE(message);
    EXPECT_EQ(message->title.toStdString(), "Some items in “Photos.rar” were not extracted.");
    EXPECT_EQ(message->detail.toStdString(), note + "• dir/link1");
    EXPECT_EQ(detail(8), note + bullets(8));
}

// The note says why for each kind that was skipped, and only for those.
TEST(SkippedEntriesMessage, ExplainsDevicesBesideOrInsteadOfLinks) {
    const std::string devices = "Devices, pipes and sockets in an archive are never created.";
    const SkippedEntry fifo{"dev/fifo", SkippedEntry::Reason::specialFile};
    EXPECT_EQ(skippedEntriesMessage({fifo}, "a.tar")->detail.toStdString(),
              devices + "\n\n• dev/fifo");
    std::vector<SkippedEntry> both = entries(1);
    both.push_back(fifo);
    EXPECT_EQ(skippedEntriesMessage(both, "a.tar")->detail.toStdString(),
              note.substr(0, note.size() - 2) + " " + devices + "\n\n• dir/link1\n• dev/fifo");
}

TEST(SkippedEntriesMessage, CountsTheEntriesBeyondEight) {
    EXPECT_EQ(detail(9), note + bullets(8) + "\n…and 1 more");
    EXPECT_EQ(detail(20), note + bullets(8) + "\n…and 12 more");
}

}  // namespace
}  // namespace tovani
