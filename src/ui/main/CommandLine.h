#pragma once

#include <string>
#include <vector>

namespace kv::portal {

// A firmware command named on the command line, in the order the options appear.
struct CommandRequest {
    enum class Kind { FirmwareUpdate, FirmwareDownloadUpdate, List, UpdateAll };
    Kind kind;
    std::string productName;
    // The package file for FirmwareUpdate; empty otherwise.
    std::string fileName;
};

struct CommandLine {
    bool console = false;
    // The product named by the last complete "--uid", else empty.
    std::string uid;
    std::vector<CommandRequest> commands;
    // "--json": a command's answer as JSON rather than a table.
    bool json = false;
    // "--wait SECONDS": how long "--list" and "--update-all" wait for the studio to settle.
    int waitSeconds = 10;
    // "--dry-run": "--update-all" only says what it would do.
    bool dryRun = false;
    // "--include-software": "--update-all" updates the applications too.
    bool includeSoftware = false;
};

// Reads the options the program knows from the arguments Qt has left, the program path
// included. Options are exact byte strings; one whose values are missing is ignored, and a
// value is read as an option in its turn as well.
CommandLine parseCommandLine(int argc, const char* const* argv);

// Whether the arguments hold the option, for those answered before anything needs a display:
// "--help", "--version" and "--history".
bool hasOption(int argc, const char* const* argv, const char* option);

} // namespace kv::portal
