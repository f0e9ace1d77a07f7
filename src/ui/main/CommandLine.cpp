#include "ui/main/CommandLine.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace kv::portal {

CommandLine parseCommandLine(int argc, const char* const* argv) {
    CommandLine line;
    for (int i = 0; i < argc; ++i) {
        const char* argument = argv[i];
        const int valuesLeft = argc - 1 - i;
        if (std::strcmp(argument, "-v") == 0 || std::strcmp(argument, "--verbose") == 0) {
            line.console = true;
        } else if (std::strcmp(argument, "--uid") == 0) {
            if (valuesLeft >= 1) {
                line.uid = argv[i + 1];
            }
        } else if (std::strcmp(argument, "--firmware_update") == 0) {
            if (valuesLeft >= 2) {
                line.commands.push_back(
                    {CommandRequest::Kind::FirmwareUpdate, argv[i + 1], argv[i + 2]});
            }
        } else if (std::strcmp(argument, "--list") == 0) {
            line.commands.push_back({CommandRequest::Kind::List, {}, {}});
        } else if (std::strcmp(argument, "--update-all") == 0) {
            line.commands.push_back({CommandRequest::Kind::UpdateAll, {}, {}});
        } else if (std::strcmp(argument, "--dry-run") == 0) {
            line.dryRun = true;
        } else if (std::strcmp(argument, "--include-software") == 0) {
            line.includeSoftware = true;
        } else if (std::strcmp(argument, "--json") == 0) {
            line.json = true;
        } else if (std::strcmp(argument, "--wait") == 0) {
            if (valuesLeft >= 1) {
                line.waitSeconds = std::max(0, std::atoi(argv[i + 1]));
            }
        } else if (std::strcmp(argument, "--firmware_download_update") == 0) {
            if (valuesLeft >= 1) {
                line.commands.push_back(
                    {CommandRequest::Kind::FirmwareDownloadUpdate, argv[i + 1], {}});
            }
        }
    }
    return line;
}

bool hasOption(int argc, const char* const* argv, const char* option) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], option) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace kv::portal
