#include "StdoutCapture.h"
#include "dns_txt_records.h"
#include "service_name.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using zeroconf::dns_txt_records;
using zeroconf::first_unescaped_dot;
using zeroconf::parse_txt_record;
using zeroconf::unescape_service_name;

namespace {

std::string instance_of(const std::string& full_name) {
    const std::size_t dot = first_unescaped_dot(full_name);
    return dot == std::string::npos ? "<none>" : unescape_service_name(full_name.substr(0, dot));
}

std::string bytes(const dns_txt_records& record) {
    return record.data() == nullptr
               ? std::string()
               : std::string(reinterpret_cast<const char*>(record.data()), record.length());
}

std::vector<std::string> parsed(const std::string& data, bool* valid = nullptr) {
    std::vector<std::string> entries{"stale"};
    const bool result =
        parse_txt_record(reinterpret_cast<const unsigned char*>(data.data()), data.size(), entries);
    if (valid != nullptr) {
        *valid = result;
    }
    return entries;
}

} // namespace

// The instance ends at the first dot no backslash escapes; escapes become their bytes, and a
// malformed one empties the name. "R\195\169gie 2" is how Avahi sends "Régie 2": every byte
// outside [A-Za-z0-9_-] spelled out.
TEST(ServiceName, InstanceIsTheUnescapedLabelBeforeTheFirstUnescapedDot) {
    const std::pair<const char*, const char*> cases[] = {
        {"Studio\\.A._http._tcp.local.", "Studio.A"},
        {"Studio\\032A._http._tcp.local.", "Studio A"},
        {"a\\\\._http._tcp.local.", "a\\"},
        {"a\\\\\\.b._http._tcp.local.", "a\\.b"},
        {"no-dot-at-all", "<none>"},
        {"only\\.escaped\\.dots", "<none>"},
        {"R\\195\\169gie\\0322._http", "R\xc3\xa9gie 2"},
        {"x\\046y._http", "x.y"},
        {"plain-name_1._http", "plain-name_1"},
        {"cut\\03._http", ""},
        {"letters\\0a2._http", ""},
        {"trailing\\._http", "<none>"},
        {"too-big\\256._http", ""},
    };
    for (const auto& [fullName, instance] : cases) {
        EXPECT_EQ(instance, instance_of(fullName)) << fullName;
    }
    EXPECT_EQ("", unescape_service_name("trailing\\"));
}

TEST(TxtRecordParsing, EntriesComeInOrderIncludingEmptyOnes) {
    EXPECT_EQ((std::vector<std::string>{"vendor=Kelmora Technologies", "", "version=1.2.3b45"}),
              parsed(std::string("\x1bvendor=Kelmora Technologies\x00\x10version=1.2.3b45", 46)));
    EXPECT_EQ(std::vector<std::string>{""}, parsed(std::string(1, '\0')));
    EXPECT_TRUE(parsed("").empty());
}

TEST(TxtRecordParsing, OverrunningEntryInvalidatesTheWholeRecord) {
    kv::test::StdoutCapture log;
    bool valid = true;
    EXPECT_TRUE(parsed("\x03"
                       "abc\x05"
                       "de",
                       &valid)
                    .empty());
    EXPECT_FALSE(valid);
    EXPECT_NE(std::string::npos, log.text().find("zeroconf_category: Invalid TXT Record\n"));
}

TEST(TxtRecordEncoding, StringsBecomeLengthPrefixedAndEmptyOnesAreSkipped) {
    EXPECT_EQ(std::string("\x08vendor=K\x03"
                          "a=b",
                          13),
              bytes(dns_txt_records({"vendor=K", "", "a=b"})));
    EXPECT_EQ(0, dns_txt_records({}).length());
}

TEST(TxtRecordEncoding, EntryLongerThan127BytesEmptiesTheRecord) {
    const std::string longest(127, 'k');
    const dns_txt_records kept({longest, "a=b"});
    EXPECT_EQ(1 + 127 + 4, kept.length());
    EXPECT_EQ(longest, bytes(kept).substr(1, 127));

    const dns_txt_records dropped({"a=b", std::string(128, 'k')});
    EXPECT_EQ(0, dropped.length());
    EXPECT_EQ(nullptr, dropped.data());
}

TEST(TxtRecordEncoding, RecordLongerThan32767BytesIsEmpty) {
    // 256 entries of 1 + 127 bytes make 32768; one byte less fits exactly.
    std::vector<std::string> entries(256, std::string(127, 'x'));
    EXPECT_EQ(0, dns_txt_records(entries).length());
    entries.back().pop_back();
    const dns_txt_records fits(entries);
    EXPECT_EQ(32767, fits.length());
    EXPECT_EQ(127, fits.data()[0]);
    EXPECT_EQ(126, fits.data()[32767 - 127]);
}
