#pragma once

// The program's one logging facility: every thread writes through these functions, which
// format into a stack buffer and emit each line with one call per output, so lines of
// different threads never mix inside a line.

namespace ru_rod {

// Levels: 3 errors, 4 warnings, 6 information, 7 details; 8 and above are suppressed.
constexpr unsigned kSuppressed = 8;
constexpr int kLineBufferSize = 1024;

void logMessage(unsigned level, const char* sourceFile, int line, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

void logCategoryMessage(const char* category, unsigned level, const char* sourceFile, int line,
                        const char* format, ...) __attribute__((format(printf, 5, 6)));

// Opens (or, with truncate, recreates) the log file that receives every line from now on.
// Returns 0, or -1 after logging why.
int openLogFile(const char* path, bool truncate);

void openConsole();

// Sends the console's lines to the standard error, leaving the standard output to a command's
// own answer; without colours.
void consoleToStandardError();

// Colours go to the standard output only while it is a terminal; this looks again.
void enableConsoleColours();

constexpr const char* baseName(const char* path) {
    const char* base = path;
    for (const char* p = path; *p; ++p) {
        if (*p == '/' || *p == '\\') {
            base = p + 1;
        }
    }
    return base;
}

} // namespace ru_rod

#define KV_LOG(level, ...)                                                                         \
    ::ru_rod::logMessage((level), ::ru_rod::baseName(__FILE__), __LINE__, __VA_ARGS__)
