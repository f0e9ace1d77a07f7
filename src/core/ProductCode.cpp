#include "core/ProductCode.h"

#include "platform/OwnReleases.h"

#include <algorithm>
#include <iterator>

namespace kv::portal {

namespace code {
const char KORVEX_FIRMWARE[] = "KORVEX-FIRMWARE";
const char KORVEX_FIRMWARE_DANTE[] = "KORVEX-FIRMWARE-DANTE";
const char RX48_FIRMWARE[] = "RX48-FIRMWARE";
const char RX48_FIRMWARE_DANTE[] = "RX48-FIRMWARE-DANTE";
const char VORAVERI_FIRMWARE[] = "VORAVERI-FIRMWARE";
const char VORAVERI_FIRMWARE_DANTE[] = "VORAVERI-FIRMWARE-DANTE";
const char VESK_III_FIRMWARE[] = "VESK-III-FIRMWARE";
const char VESK_III_FIRMWARE_DANTE[] = "VESK-III-FIRMWARE-DANTE";
const char VESK_FIRMWARE[] = "VESK-FIRMWARE";
const char PELRA_FIRMWARE[] = "PELRA-FIRMWARE";
const char KVPORTAL[] = "KVPORTAL";
const char VORNET[] = "VORNET";
const char KVDISCOVERY[] = "KVDISCOVERY";
const char KORVEX_REMOTE_CONTROLLER[] = "KORVEX-REMOTE-CONTROLLER";
const char RX48_TOOLKIT_CONTROLLER[] = "RX48-TOOLKIT-CONTROLLER";
} // namespace code

namespace {

constexpr char kKelmora[] = "Kelmora Technologies";

struct CodeInfo {
    ProductCode code;
    bool firmware;
    // Whether this program installs the releases itself.
    bool updatable;
    ProductCode danteTwin;
    ProductCode companion;
    // What a device of the code announces; a product ending in '*' is a prefix that must
    // occur only at the start of the announced product.
    const char* vendor;
    const char* product;
    const char* executable;
    const char* applicationName;
};

const CodeInfo codeTable[] = {
    {code::KORVEX_FIRMWARE, true, true, code::KORVEX_FIRMWARE_DANTE, code::KORVEX_REMOTE_CONTROLLER,
     kKelmora, "KELMORA+KORVEX", nullptr, nullptr},
    {code::KORVEX_FIRMWARE_DANTE, true, true, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    {code::RX48_FIRMWARE, true, true, code::RX48_FIRMWARE_DANTE, code::RX48_TOOLKIT_CONTROLLER,
     "Trennel", "RX 48*", nullptr, nullptr},
    {code::RX48_FIRMWARE_DANTE, true, true, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    {code::VORAVERI_FIRMWARE, true, true, code::VORAVERI_FIRMWARE_DANTE, nullptr, kKelmora,
     "VESK_MkII", nullptr, nullptr},
    {code::VORAVERI_FIRMWARE_DANTE, true, true, nullptr, nullptr, nullptr, nullptr, nullptr,
     nullptr},
    {code::VESK_III_FIRMWARE, true, true, code::VESK_III_FIRMWARE_DANTE, nullptr, kKelmora,
     "VESK-III", nullptr, nullptr},
    {code::VESK_III_FIRMWARE_DANTE, true, true, nullptr, nullptr, nullptr, nullptr, nullptr,
     nullptr},
    {code::VESK_FIRMWARE, true, false, nullptr, nullptr, kKelmora, "Vesk", nullptr, nullptr},
    {code::PELRA_FIRMWARE, true, false, nullptr, nullptr, kKelmora, "Pelra", nullptr, nullptr},
    // A newer KVPortal comes as a package of its own only where the program cannot install it.
    {code::KVPORTAL, false, platform::kInstallsOwnReleases, nullptr, nullptr, nullptr, nullptr,
     "/Kelmora Technologies/KVPortal/KVPortal.exe", "KVPortal"},
    {code::VORNET, false, true, nullptr, nullptr, nullptr, nullptr,
     "/Kelmora Technologies/VORNET/VORNET.exe", "VORNET"},
    {code::KVDISCOVERY, false, true, nullptr, nullptr, nullptr, nullptr,
     "/Kelmora Technologies/KVDiscovery/KVDiscovery.exe", "KVDiscovery"},
    {code::KORVEX_REMOTE_CONTROLLER, false, true, nullptr, nullptr, nullptr, nullptr,
     "/Kelmora Technologies/Korvex Remote Controllers/KorvexMusic.exe",
     "Korvex Remote Controllers"},
    {code::RX48_TOOLKIT_CONTROLLER, false, true, nullptr, nullptr, nullptr, nullptr,
     "/Trennel RX 48 Toolkit/RX 48 Agent/RX48Agent.exe", "RX48 Toolkit"},
};

const CodeInfo* infoOf(ProductCode code) {
    for (const CodeInfo& info : codeTable) {
        if (info.code == code) {
            return &info;
        }
    }
    return nullptr;
}

bool announces(const CodeInfo& info, const std::string& product) {
    const std::string expected = info.product;
    if (expected.empty() || expected.back() != '*') {
        return product == expected;
    }
    const std::string prefix = expected.substr(0, expected.size() - 1);
    return product.size() >= prefix.size() && product.rfind(prefix) == 0;
}

} // namespace

bool isFirmwareCode(ProductCode code) {
    const CodeInfo* info = infoOf(code);
    return info != nullptr && info->firmware;
}

bool programUpdates(ProductCode code) {
    const CodeInfo* info = infoOf(code);
    return info != nullptr && info->updatable;
}

bool isDanteCode(ProductCode code) {
    return code != nullptr &&
           std::any_of(std::begin(codeTable), std::end(codeTable),
                       [&](const CodeInfo& info) { return info.danteTwin == code; });
}

ProductCode danteTwinCode(ProductCode code) {
    const CodeInfo* info = infoOf(code);
    return info != nullptr ? info->danteTwin : nullptr;
}

ProductCode companionCode(ProductCode code) {
    const CodeInfo* info = infoOf(code);
    return info != nullptr ? info->companion : nullptr;
}

ProductCode deviceCode(const std::string& vendor, const std::string& product) {
    for (const CodeInfo& info : codeTable) {
        if (info.vendor != nullptr && vendor == info.vendor && announces(info, product)) {
            return info.code;
        }
    }
    return nullptr;
}

const char* executablePath(ProductCode code) {
    const CodeInfo* info = infoOf(code);
    return info != nullptr ? info->executable : nullptr;
}

const char* applicationName(ProductCode code) {
    const CodeInfo* info = infoOf(code);
    return info != nullptr ? info->applicationName : nullptr;
}

bool isApplicationName(const std::string& name) {
    return std::any_of(std::begin(codeTable), std::end(codeTable), [&](const CodeInfo& info) {
        return info.applicationName != nullptr && name == info.applicationName;
    });
}

} // namespace kv::portal
