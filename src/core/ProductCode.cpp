#include "core/ProductCode.h"

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

struct CodeInfo {
    ProductCode code;
    bool firmware;
    bool updatable;
    ProductCode danteTwin;
    const char* executable;
    const char* applicationName;
};

const CodeInfo codeTable[] = {
    {code::KORVEX_FIRMWARE, true, true, code::KORVEX_FIRMWARE_DANTE, nullptr, nullptr},
    {code::KORVEX_FIRMWARE_DANTE, true, true, nullptr, nullptr, nullptr},
    {code::RX48_FIRMWARE, true, true, code::RX48_FIRMWARE_DANTE, nullptr, nullptr},
    {code::RX48_FIRMWARE_DANTE, true, true, nullptr, nullptr, nullptr},
    {code::VORAVERI_FIRMWARE, true, true, code::VORAVERI_FIRMWARE_DANTE, nullptr, nullptr},
    {code::VORAVERI_FIRMWARE_DANTE, true, true, nullptr, nullptr, nullptr},
    {code::VESK_III_FIRMWARE, true, true, code::VESK_III_FIRMWARE_DANTE, nullptr, nullptr},
    {code::VESK_III_FIRMWARE_DANTE, true, true, nullptr, nullptr, nullptr},
    {code::VESK_FIRMWARE, true, false, nullptr, nullptr, nullptr},
    {code::PELRA_FIRMWARE, true, false, nullptr, nullptr, nullptr},
    {code::KVPORTAL, false, false, nullptr, "/Kelmora Technologies/KVPortal/KVPortal.exe",
     "KVPortal"},
    {code::VORNET, false, false, nullptr, "/Kelmora Technologies/VORNET/VORNET.exe", "VORNET"},
    {code::KVDISCOVERY, false, false, nullptr, "/Kelmora Technologies/KVDiscovery/KVDiscovery.exe",
     "KVDiscovery"},
    {code::KORVEX_REMOTE_CONTROLLER, false, false, nullptr,
     "/Kelmora Technologies/Korvex Remote Controllers/KorvexMusic.exe",
     "Korvex Remote Controllers"},
    {code::RX48_TOOLKIT_CONTROLLER, false, false, nullptr,
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

} // namespace

bool isFirmwareCode(ProductCode code, bool* updatable) {
    const CodeInfo* info = infoOf(code);
    if (updatable != nullptr) {
        *updatable = info != nullptr && info->updatable;
    }
    return info != nullptr && info->firmware;
}

bool isDanteCode(ProductCode code) {
    return code == code::KORVEX_FIRMWARE_DANTE || code == code::RX48_FIRMWARE_DANTE ||
           code == code::VORAVERI_FIRMWARE_DANTE || code == code::VESK_III_FIRMWARE_DANTE;
}

ProductCode danteTwinCode(ProductCode code) {
    const CodeInfo* info = infoOf(code);
    return info != nullptr ? info->danteTwin : nullptr;
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
