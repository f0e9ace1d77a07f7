// What a device on the network controls in a resolve reply: its full service name and its TXT
// record, which discovery turns into the name and the entries the core classifies. The input is
// the full name, a NUL byte, then the TXT record data.

#include "CoreTestEnvironment.h"
#include "FuzzCheck.h"
#include "core/Core.h"
#include "dns_txt_records.h"
#include "service_name.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

using Entries = std::vector<std::string>;

kv::portal::Core& core() {
    static kv::test::CoreTestEnvironment environment;
    static kv::portal::Core instance;
    return instance;
}

// Presentation format of a DNS-SD label, as a responder writes it.
std::string escaped(const std::string& name) {
    std::string text;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '.' || c == '\\') {
            text += '\\';
            text += c;
        } else if (byte <= ' ' || byte >= 0x7F) {
            char code[5];
            std::snprintf(code, sizeof(code), "\\%03u", byte);
            text += code;
        } else {
            text += c;
        }
    }
    return text;
}

size_t backslashesBefore(const std::string& text, size_t position) {
    size_t count = 0;
    while (count < position && text[position - 1 - count] == '\\') {
        ++count;
    }
    return count;
}

void checkName(const std::string& fullName) {
    const size_t dot = zeroconf::first_unescaped_dot(fullName);
    const size_t end = dot == std::string::npos ? fullName.size() : dot;
    for (size_t i = 0; i < end; ++i) {
        FUZZ_CHECK(fullName[i] != '.' || backslashesBefore(fullName, i) % 2 == 1);
    }
    if (dot != std::string::npos) {
        FUZZ_CHECK(fullName[dot] == '.' && backslashesBefore(fullName, dot) % 2 == 0);
        FUZZ_CHECK(zeroconf::unescape_service_name(fullName.substr(0, dot)).size() <= dot);
    }

    // Any name a device may carry comes back whole from its presentation format.
    const std::string label = escaped(fullName);
    FUZZ_CHECK(zeroconf::unescape_service_name(label) == fullName);
    FUZZ_CHECK(zeroconf::first_unescaped_dot(label + "._http._tcp.local.") == label.size());
}

std::string recordOf(const Entries& entries) {
    std::string record;
    for (const std::string& entry : entries) {
        record += static_cast<char>(entry.size());
        record += entry;
    }
    return record;
}

// Encoding drops empty entries and refuses an entry over 127 bytes or a record over 32767;
// whatever it encodes parses back to the entries it kept.
void checkEncoding(const Entries& entries) {
    Entries kept;
    bool encodable = true;
    size_t length = 0;
    for (const std::string& entry : entries) {
        encodable = encodable && entry.size() <= zeroconf::dns_txt_records::kMaxEntry;
        if (!entry.empty()) {
            kept.push_back(entry);
            length += 1 + entry.size();
        }
    }
    encodable = encodable && length <= zeroconf::dns_txt_records::kMaxLength;
    const zeroconf::dns_txt_records record(entries);
    if (!encodable || kept.empty()) {
        FUZZ_CHECK(record.length() == 0 && record.data() == nullptr);
        return;
    }
    FUZZ_CHECK(record.length() == length);
    Entries parsed;
    FUZZ_CHECK(zeroconf::parse_txt_record(record.data(), record.length(), parsed));
    FUZZ_CHECK(parsed == kept);
}

bool overruns(const std::string& record) {
    size_t position = 0;
    while (position < record.size()) {
        const size_t length = static_cast<unsigned char>(record[position]);
        if (length > record.size() - position - 1) {
            return true;
        }
        position += 1 + length;
    }
    return false;
}

Entries checkRecord(const std::string& record) {
    Entries entries{"left over"};
    const bool valid = zeroconf::parse_txt_record(
        reinterpret_cast<const unsigned char*>(record.data()), record.size(), entries);
    FUZZ_CHECK(valid == !overruns(record));
    if (!valid) {
        FUZZ_CHECK(entries.empty());
        return entries;
    }
    FUZZ_CHECK(recordOf(entries) == record);
    checkEncoding(entries);
    // Long enough to reach the record's length limit.
    Entries repeated;
    for (int i = 0; i < 16; ++i) {
        repeated.insert(repeated.end(), entries.begin(), entries.end());
    }
    checkEncoding(repeated);
    return entries;
}

void checkDevice(const std::string& name, const Entries& entries) {
    kv::portal::Core& portal = core();
    const bool added = portal.addDevice(name, "", entries);
    const kv::portal::ProductPtr found = portal.findProduct(name);
    FUZZ_CHECK(added == (found != nullptr));
    FUZZ_CHECK(!added || found->isFirmware());
    for (const char* known : {name.c_str(), "Korvex Remote Controllers", "RX48 Toolkit"}) {
        portal.removeProduct(known);
    }
    size_t left = 0;
    portal.forEachProduct([&left](const kv::portal::ProductPtr&) {
        ++left;
        return true;
    });
    FUZZ_CHECK(left == 0);
}

} // namespace

FUZZ_TARGET(input) {
    const auto [fullName, rest] = kv::fuzz::splitAtNul(input);
    // A TXT record's length is 16 bits wide.
    const std::string record = rest.substr(0, 65535);

    checkName(fullName);
    const Entries entries = checkRecord(record);
    const size_t dot = zeroconf::first_unescaped_dot(fullName);
    if (dot != std::string::npos) {
        checkDevice(zeroconf::unescape_service_name(fullName.substr(0, dot)), entries);
    }
}
