// The command line is another program's to write. The input is the argument vector, the program
// path first, each argument ended by a NUL byte.

#include "FuzzCheck.h"
#include "ui/main/CommandLine.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

kv::portal::CommandLine parse(const std::vector<std::string>& arguments) {
    std::vector<const char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(argument.c_str());
    }
    argv.push_back(nullptr);
    return kv::portal::parseCommandLine(static_cast<int>(arguments.size()), argv.data());
}

} // namespace

FUZZ_TARGET(input) {
    std::vector<std::string> arguments;
    for (size_t start = 0; start < input.size();) {
        const size_t end = std::min(input.find('\0', start), input.size());
        arguments.push_back(input.substr(start, end - start));
        start = end + 1;
    }
    const kv::portal::CommandLine line = parse(arguments);
    // One more argument can complete options at the end, never undo what came before.
    arguments.push_back("Studio Korvex");
    const kv::portal::CommandLine longer = parse(arguments);
    FUZZ_CHECK((!line.console || longer.console) && longer.commands.size() >= line.commands.size());
    for (size_t i = 0; i < line.commands.size(); ++i) {
        const auto &a = line.commands[i], &b = longer.commands[i];
        FUZZ_CHECK(a.kind == b.kind && a.productName == b.productName && a.fileName == b.fileName);
    }
}
