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

// The ten firmware codes; `updatable` tells whether this program installs them (eight do).
bool isFirmwareCode(ProductCode code, bool* updatable = nullptr);
bool isDanteCode(ProductCode code);
// The Dante twin's code of a dual-mode device's code, or null.
ProductCode danteTwinCode(ProductCode code);
// The application's executable below the Program Files folder, or null for firmware.
const char* executablePath(ProductCode code);
// The fixed name of an application's product, or null for firmware.
const char* applicationName(ProductCode code);
bool isApplicationName(const std::string& name);

} // namespace kv::portal
