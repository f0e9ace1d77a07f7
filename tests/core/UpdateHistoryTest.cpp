#include "core/update/UpdateHistory.h"

#include "TempDir.h"
#include "core/ResultCodes.h"
#include "core/update/UpdateFailureText.h"

#include <gtest/gtest.h>

#include <filesystem>

using kv::portal::HistoryEntry;

TEST(UpdateHistory, WritesOneJsonLineWithTheTimeInUtc) {
    const std::pair<int64_t, const char*> times[] = {{0, "1970-01-01T00:00:00Z"},
                                                     {951868799, "2000-02-29T23:59:59Z"},
                                                     {1709168461, "2024-02-29T01:01:01Z"},
                                                     {-1, "1969-12-31T23:59:59Z"}};
    for (const auto& [time, text] : times) {
        HistoryEntry entry;
        entry.time = time;
        EXPECT_EQ(historyLine(entry).substr(0, 30), std::string(R"({"time":")") + text + "\"");
    }
    HistoryEntry entry;
    entry.product = "Booth \"A\"\n";
    entry.errorCode = -1;
    entry.durationMs = 1234;
    EXPECT_EQ(historyLine(entry),
              R"({"time":"1970-01-01T00:00:00Z","product":"Booth \"A\"\n","code":"",)"
              R"("address":"","from_version":"","to_version":"","result":"","error_code":-1,)"
              R"("duration_ms":1234})"
              "\n");
}

TEST(UpdateHistory, AppendsBehindEarlierLinesAndNeverThroughALink) {
    kv::test::TempDir folder;
    const std::string path = folder.file("history.jsonl");
    HistoryEntry entry;
    ASSERT_TRUE(appendHistory(path, entry));
    ASSERT_TRUE(appendHistory(path, entry));
    EXPECT_EQ(kv::test::readFile(path), historyLine(entry) + historyLine(entry));
    kv::test::writeFile(folder.file("elsewhere"), "kept\n");
    std::filesystem::create_symlink(folder.file("elsewhere"), folder.file("linked.jsonl"));
    EXPECT_FALSE(appendHistory(folder.file("linked.jsonl"), entry));
    EXPECT_EQ(kv::test::readFile(folder.file("elsewhere")), "kept\n");
}

// The line "--update-all" prints for a failed update.
TEST(UpdateFailureText, NamesWhatFailedAndItsCode) {
    namespace result = kv::portal::result;
    EXPECT_EQ(kv::portal::updateFailureText(3, false), "the installer ended with 3 (3)");
    EXPECT_EQ(kv::portal::updateFailureText(result::kDeviceNotBack, true),
              "the device did not come back from its reboot (" +
                  std::to_string(result::kDeviceNotBack) + ")");
}
