#include "core/update/UpdateHistory.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using kv::portal::appendHistory;
using kv::portal::HistoryEntry;
using kv::portal::historyLine;

TEST(UpdateHistory, WritesOneJsonLineWithTheTimeInUtc) {
    const struct {
        int64_t time;
        const char* text;
    } times[] = {{0, "1970-01-01T00:00:00Z"},
                 {951868799, "2000-02-29T23:59:59Z"},
                 {1709168461, "2024-02-29T01:01:01Z"},
                 {-1, "1969-12-31T23:59:59Z"}};
    for (const auto& t : times) {
        HistoryEntry entry;
        entry.time = t.time;
        EXPECT_EQ(historyLine(entry).substr(0, 30), std::string(R"({"time":")") + t.text + "\"")
            << t.time;
    }
    HistoryEntry entry;
    entry.product = "Booth \"A\"\n";
    entry.code = "KORVEX-FIRMWARE";
    entry.address = "192.0.2.7";
    entry.fromVersion = "1.0.0 b1";
    entry.toVersion = "2.0.0 b7";
    entry.result = "failed";
    entry.errorCode = -1;
    entry.durationMs = 1234;
    EXPECT_EQ(
        historyLine(entry),
        R"({"time":"1970-01-01T00:00:00Z","product":"Booth \"A\"\n","code":"KORVEX-FIRMWARE",)"
        R"("address":"192.0.2.7","from_version":"1.0.0 b1","to_version":"2.0.0 b7",)"
        R"("result":"failed","error_code":-1,"duration_ms":1234})"
        "\n");
}

TEST(UpdateHistory, AppendsBehindEarlierLinesAndNeverThroughALink) {
    kv::test::TempDir folder;
    const std::string path = folder.file("history.jsonl");
    HistoryEntry entry;
    ASSERT_TRUE(appendHistory(path, entry));
    ASSERT_TRUE(appendHistory(path, entry));
    EXPECT_EQ(kv::test::readFile(path), historyLine(entry) + historyLine(entry));

    const std::string target = folder.file("elsewhere");
    kv::test::writeFile(target, "kept\n");
    std::filesystem::create_symlink(target, folder.file("linked.jsonl"));
    EXPECT_FALSE(appendHistory(folder.file("linked.jsonl"), entry));
    EXPECT_EQ(kv::test::readFile(target), "kept\n");
}

} // namespace
