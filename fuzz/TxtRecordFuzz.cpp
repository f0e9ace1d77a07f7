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

// Presentation format of a DNS-SD label, as a responder writes it.
std::string escaped(const std::string& name) {
    std::string text;
    for (const char c : name) {
        const unsigned byte = static_cast<unsigned char>(c);
        char code[5];
        std::snprintf(code, sizeof(code),
                      byte <= ' ' || byte >= 0x7F   ? "\\%03u"
                      : byte == '.' || byte == '\\' ? "\\%c"
                                                    : "%c",
                      byte);
        text += code;
    }
    return text;
}

} // namespace

FUZZ_TARGET(input) {
    static kv::test::CoreTestEnvironment environment;
    static kv::portal::Core core;
    const auto [fullName, rest] = kv::fuzz::splitAtNul(input);
    // A TXT record's length is 16 bits wide.
    const std::string record = rest.substr(0, 65535);

    // Any name a device may carry comes back whole from its presentation format.
    const std::string label = escaped(fullName);
    FUZZ_CHECK(zeroconf::unescape_service_name(label) == fullName);
    FUZZ_CHECK(zeroconf::first_unescaped_dot(label + "._http._tcp.local.") == label.size());

    // What parses is the record's own strings, and encodes back to them less the empty ones,
    // unless one is over 127 bytes or all of them over 32767.
    std::vector<std::string> entries{"left over"};
    const bool valid = zeroconf::parse_txt_record(
        reinterpret_cast<const unsigned char*>(record.data()), record.size(), entries);
    std::string whole, kept;
    bool encodable = true;
    for (const std::string& entry : entries) {
        whole += static_cast<char>(entry.size()) + entry;
        kept += entry.empty() ? "" : static_cast<char>(entry.size()) + entry;
        encodable = encodable && entry.size() <= zeroconf::dns_txt_records::kMaxEntry;
    }
    FUZZ_CHECK(valid ? whole == record : entries.empty());
    encodable = encodable && kept.size() <= zeroconf::dns_txt_records::kMaxLength;
    const zeroconf::dns_txt_records encoded(entries);
    FUZZ_CHECK(encoded.length() == (encodable ? kept.size() : 0));
    FUZZ_CHECK(!encodable || kept.empty() ||
               std::string(reinterpret_cast<const char*>(encoded.data()), kept.size()) == kept);

    const std::size_t dot = zeroconf::first_unescaped_dot(fullName);
    if (dot == std::string::npos) {
        return;
    }
    const std::string name = zeroconf::unescape_service_name(fullName.substr(0, dot));
    const bool added = core.addDevice(name, "", entries);
    const kv::portal::ProductPtr found = core.findProduct(name);
    FUZZ_CHECK(added == (found != nullptr));
    FUZZ_CHECK(!added || found->isFirmware());
    // Gone with every product it brought along.
    std::vector<std::string> names;
    core.forEachProduct([&names](const kv::portal::ProductPtr& product) {
        names.push_back(product->name);
        return true;
    });
    for (const std::string& product : names) {
        core.removeProduct(product);
    }
}
