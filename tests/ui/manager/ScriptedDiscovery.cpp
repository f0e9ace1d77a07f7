#include "ScriptedDiscovery.h"

#include <arpa/inet.h>

#include <stdexcept>

namespace kv::test {

namespace {

constexpr std::uint32_t kInterface = 2;

std::string txtRecord(const std::vector<std::string>& entries) {
    std::string record;
    for (const std::string& entry : entries) {
        record += static_cast<char>(entry.size());
        record += entry;
    }
    return record;
}

std::string addressBytes(const std::string& address) {
    in_addr parsed{};
    if (::inet_pton(AF_INET, address.c_str(), &parsed) != 1) {
        throw std::invalid_argument("not an IPv4 address: " + address);
    }
    return std::string(reinterpret_cast<const char*>(&parsed), 4);
}

} // namespace

scripted::operation_ptr ScriptedDiscovery::browse(std::size_t start, std::size_t subtype) const {
    return scripted::wait_for("DNSServiceBrowse", (start - 1) * 3 + subtype + 1);
}

scripted::operation_ptr
ScriptedDiscovery::announceWithoutAddress(const scripted::operation_ptr& browse,
                                          const std::string& name,
                                          const std::vector<std::string>& txt) {
    scripted::browse_reply(browse, kDNSServiceFlagsAdd, kInterface, 0, name.c_str(), "_http._tcp.",
                           "local.");
    const auto resolve = scripted::wait_for("DNSServiceResolve", ++resolves_);
    if (!resolve) {
        throw std::runtime_error("no resolve for " + name);
    }
    scripted::resolve_reply(resolve, 0, kInterface, 0, (name + "._http._tcp.local.").c_str(),
                            (name + ".local.").c_str(), 80, txtRecord(txt));
    const auto query = scripted::wait_for("DNSServiceQueryRecord", ++queries_);
    if (!query) {
        throw std::runtime_error("no address query for " + name);
    }
    return query;
}

void ScriptedDiscovery::answerAddress(const scripted::operation_ptr& query,
                                      const std::string& address) {
    std::string host = query->name.value_or("");
    if (!host.empty() && host.back() == '.') {
        host.pop_back();
    }
    scripted::query_reply(query, kDNSServiceFlagsAdd, kInterface, 0, host.c_str(),
                          kDNSServiceType_A, addressBytes(address));
}

void ScriptedDiscovery::announce(const scripted::operation_ptr& browse, const std::string& name,
                                 const std::string& address, const std::vector<std::string>& txt) {
    answerAddress(announceWithoutAddress(browse, name, txt), address);
}

void ScriptedDiscovery::withdraw(const scripted::operation_ptr& browse, const std::string& name) {
    scripted::browse_reply(browse, 0, kInterface, 0, name.c_str(), "_http._tcp.", "local.");
}

std::vector<std::string> korvexTxt(const std::string& version) {
    return {"vendor=Kelmora Technologies", "product=KELMORA+KORVEX", "version=" + version,
            "firmware_generation=1"};
}

} // namespace kv::test
