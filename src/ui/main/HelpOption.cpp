#include "ui/main/HelpOption.h"

namespace kv::portal {

std::string helpText() {
    return "Usage: kvportal [option...]\n"
           "Keeps Kelmora audio devices and applications up to date.\n"
           "\n"
           "  -v, --verbose                    open the log console at once\n"
           "  --uid NAME                       select the product NAME\n"
           "  --firmware_update NAME FILE      update the device NAME with the package FILE from\n"
           "                                   the downloads folder, then end\n"
           "  --firmware_download_update NAME  download the released firmware of the device NAME,\n"
           "                                   even when it is up to date, install it, then end\n"
           "  --list                           print every product once the studio has settled,\n"
           "                                   then end (2 when the catalogue could not be read)\n"
           "  --history                        print every update attempt, oldest first, then end\n"
           "  --json                           print --list or --history as one JSON array\n"
           "  --wait SECONDS                   let --list wait at most SECONDS (default 10)\n"
           "  --version                        print the version and the DNS-SD provider, then "
           "end\n"
           "  --help                           print these options, then end\n"
           "\n"
           "Without a display (neither DISPLAY nor WAYLAND_DISPLAY set) a command runs without a\n"
           "window and logs to the console.\n";
}

} // namespace kv::portal
