#include "StdoutCapture.h"
#include "dns_txt_records.h"
#include "service_name.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace zeroconf;
using Strings = std::vector<std::string>;

// The instance ends at the first dot no backslash escapes; escapes become their bytes, and a
// malformed one empties the name. "R\195\169gie 2" is how Avahi sends "Régie 2".
TEST(ServiceName, InstanceIsTheUnescapedLabelBeforeTheFirstUnescapedDot) {
    const std::pair<std::string, std::string> cases[] = {
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
        {".x._http", ""}};
    for (const auto& [fullName, instance] : cases) {
        const std::size_t dot = first_unescaped_dot(fullName);
        EXPECT_EQ(instance, dot == std::string::npos
                                ? "<none>"
                                : unescape_service_name(fullName.substr(0, dot)))
            << fullName;
    }
    EXPECT_EQ("", unescape_service_name("trailing\\"));
}

// Entries come in order, empty ones included; one that overruns the data invalidates the whole
// record. Encoding skips empty strings; an entry over 127 bytes or a record over 32767 empties it.
TEST(TxtRecord, ParsingAndEncodingKeepTheEntriesWithinTheirLimits) {
    const struct {
        std::string data;
        bool valid;
        Strings entries;
    } parsed[] = {{std::string("\x1bvendor=Kelmora Technologies\0\x10version=1.2.3b45", 46),
                   true,
                   {"vendor=Kelmora Technologies", "", "version=1.2.3b45"}},
                  {std::string(1, '\0'), true, {""}},
                  {"", true, {}},
                  {"\3abc\5de", false, {}}};
    for (const auto& c : parsed) {
        kv::test::StdoutCapture log;
        Strings entries{"stale"};
        EXPECT_EQ(c.valid, parse_txt_record(reinterpret_cast<const unsigned char*>(c.data.data()),
                                            c.data.size(), entries));
        EXPECT_EQ(c.entries, entries);
        EXPECT_EQ(c.valid,
                  log.text().find("zeroconf_category: Invalid TXT Record\n") == std::string::npos);
    }

    const std::string k127(127, 'k');
    Strings longest(256, k127);
    longest.back().pop_back();
    const std::pair<Strings, std::string> encoded[] = {
        {{"vendor=K", "", "a=b"}, "\10vendor=K\3a=b"},
        {{k127, "a=b"}, "\177" + k127 + "\3a=b"},
        {{"a=b", k127 + "k"}, "<null>"},
        {{}, "<null>"},
        {Strings(256, k127), "<null>"}};
    for (const auto& [entries, bytes] : encoded) {
        const dns_txt_records record(entries);
        EXPECT_EQ(bytes,
                  record.data() == nullptr
                      ? "<null>"
                      : std::string(reinterpret_cast<const char*>(record.data()), record.length()));
    }
    const dns_txt_records fits(longest);
    EXPECT_EQ(32767, fits.length());
    EXPECT_EQ(126, fits.data()[32767 - 127]);
}
