#pragma once

#include <string>

namespace kv::portal {

// A product's kind: one of the constants below. Kinds are compared by the constant's identity;
// the texts matter only where a code meets outside data (the publish file).
using ProductCode = const char*;

namespace code {
extern const char KORVEX_FIRMWARE[];
extern const char KORVEX_FIRMWARE_DANTE[];
extern const char RX48_FIRMWARE[];
extern const char RX48_FIRMWARE_DANTE[];
extern const char VORAVERI_FIRMWARE[];
extern const char VORAVERI_FIRMWARE_DANTE[];
extern const char VESK_III_FIRMWARE[];
extern const char VESK_III_FIRMWARE_DANTE[];
extern const char VESK_FIRMWARE[];
extern const char PELRA_FIRMWARE[];
extern const char KVPORTAL[];
extern const char VORNET[];
extern const char KVDISCOVERY[];
extern const char KORVEX_REMOTE_CONTROLLER[];
extern const char RX48_TOOLKIT_CONTROLLER[];
} // namespace code

// What a dual-mode device's Dante twin is called: this prefix and the device's name.
constexpr char kDanteTwinPrefix[] = "dante_";

// The ten firmware codes.
bool isFirmwareCode(ProductCode code);
// Whether this program installs the code's releases itself; the other releases are only
// downloaded.
bool programUpdates(ProductCode code);
bool isDanteCode(ProductCode code);
// The Dante twin's code of a dual-mode device's code, or null.
ProductCode danteTwinCode(ProductCode code);
// The application that comes with every device of the code, or null.
ProductCode companionCode(ProductCode code);
// The code of a device that announces this vendor and product, or null for a foreign one.
ProductCode deviceCode(const std::string& vendor, const std::string& product);
// The application's executable below the Program Files folder, or null for firmware.
const char* executablePath(ProductCode code);
// The fixed name of an application's product, or null for firmware.
const char* applicationName(ProductCode code);
bool isApplicationName(const std::string& name);

} // namespace kv::portal
