#pragma once

#include <string>

namespace kv::platform {

// Where Windows applications are installed: $KVPORTAL_PROGRAM_FILES when set, else
// "drive_c/Program Files" in the Wine prefix ($WINEPREFIX, default ~/.wine).
std::string programFilesFolder();

} // namespace kv::platform
