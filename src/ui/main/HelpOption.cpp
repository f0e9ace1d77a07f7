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
           "  --update-all                     update every device whose release is newer, one at\n"
           "                                   a time, print one line per device, then end (1 "
           "when\n"
           "                                   any failed, 2 when none could be started)\n"
           "  --dry-run                        let --update-all print what it would do\n"
           "  --include-software               let --update-all update the applications too\n"
           "  --history                        print every update attempt, oldest first, then end\n"
           "  --json                           print --list or --history as one JSON array\n"
           "  --wait SECONDS                   let --list or --update-all wait for the studio at "
           "most\n"
           "                                   SECONDS (default 10)\n"
           "  --version                        print the version and the DNS-SD provider, then "
           "end\n"
           "  --help                           print these options, then end\n"
           "\n"
           "Without a display (neither DISPLAY nor WAYLAND_DISPLAY set) a command runs without a\n"
           "window and logs to the console.\n";
}

} // namespace kv::portal
