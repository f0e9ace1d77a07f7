#include "ru_rod.h"

#include "platform/Console.h"
#include "platform/FileOpening.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace ru_rod {
namespace {

const char* const levelColours[] = {
    "\x1b[31m\x1b[1m", "\x1b[31m\x1b[1m", "\x1b[31m\x1b[1m", "\x1b[31m\x1b[1m",
    "\x1b[33m\x1b[1m", "\x1b[36m\x1b[1m", "\x1b[32m\x1b[1m", "\x1b[35m\x1b[1m",
};
constexpr const char* kReset = "\x1b[0m";
constexpr const char* kCutMarker = "...\n";

std::atomic<FILE*> logFile{nullptr};
std::atomic<FILE*> console{stdout};
std::atomic<bool> colours{kv::platform::stdoutIsTerminal()};

// Appends to a fixed buffer while it has room, always leaving it terminated.
class LineBuffer {
public:
    void append(const char* text) { appendFormat("%s", text); }

    void appendFormat(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        va_list args;
        va_start(args, format);
        appendFormatV(format, args);
        va_end(args);
    }

    void appendFormatV(const char* format, va_list args) {
        if (length_ + 1 >= sizeof(text_)) {
            return;
        }
        const int written = std::vsnprintf(text_ + length_, sizeof(text_) - length_, format, args);
        if (written > 0) {
            length_ = std::min(length_ + static_cast<size_t>(written), sizeof(text_) - 1);
        }
    }

    void appendTimeStamp() {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        length_ += std::strftime(text_ + length_, sizeof(text_) - length_, "%T  ", &local);
    }

    const char* text() const { return text_; }
    size_t length() const { return length_; }
    bool endsWithLineFeed() const { return length_ > 0 && text_[length_ - 1] == '\n'; }
    void clear() {
        length_ = 0;
        text_[0] = '\0';
    }

private:
    char text_[kLineBufferSize] = {};
    size_t length_ = 0;
};

bool formatEndsWithLineFeed(const char* format) {
    const size_t length = std::strlen(format);
    return length > 0 && format[length - 1] == '\n';
}

// One write per line: the reset sequence, and the cut marker, go out with the line itself.
void printConsoleLine(const LineBuffer& line, const char* format) {
    const bool cut = formatEndsWithLineFeed(format) && !line.endsWithLineFeed();
    const char* suffix = cut ? kCutMarker : "";
    FILE* stream = console.load();
    std::fprintf(stream, "%s%s%s", line.text(), colours ? kReset : "", suffix);
    std::fflush(stream);
}

void writeFileLine(const LineBuffer& line) {
    FILE* file = logFile.load();
    if (file != nullptr) {
        std::fputs(line.text(), file);
        std::fflush(file);
    }
}

const char* colourOf(unsigned level) {
    return colours ? levelColours[level] : "";
}

} // namespace

void logMessage(unsigned level, const char* sourceFile, int line, const char* format, ...) {
    (void)sourceFile;
    (void)line;
    if (level >= kSuppressed) {
        return;
    }
    LineBuffer buffer;
    va_list args;
    va_start(args, format);
    buffer.appendTimeStamp();
    buffer.append(colourOf(level));
    buffer.appendFormatV(format, args);
    va_end(args);
    printConsoleLine(buffer, format);

    if (logFile.load() != nullptr) {
        buffer.clear();
        va_start(args, format);
        buffer.appendTimeStamp();
        buffer.appendFormatV(format, args);
        va_end(args);
        writeFileLine(buffer);
    }
}

void logCategoryMessage(const char* category, unsigned level, const char* sourceFile, int line,
                        const char* format, ...) {
    if (level >= kSuppressed) {
        return;
    }
    LineBuffer buffer;
    va_list args;
    va_start(args, format);
    buffer.appendTimeStamp();
    buffer.appendFormat("In %s, line %i: %s", sourceFile, line, colourOf(level));
    if (category != nullptr) {
        buffer.appendFormat(" %s: ", category);
    }
    buffer.appendFormatV(format, args);
    va_end(args);
    printConsoleLine(buffer, format);

    if (logFile.load() != nullptr) {
        buffer.clear();
        va_start(args, format);
        buffer.appendFormat("In %s, line %i: ", sourceFile, line);
        if (category != nullptr) {
            buffer.appendFormat(" %s: ", category);
        }
        buffer.appendFormatV(format, args);
        va_end(args);
        writeFileLine(buffer);
    }
}

int openLogFile(const char* path, bool truncate) {
    FILE* file =
        (truncate ? kv::platform::createReplacing(path) : kv::platform::openForAppending(path))
            .release();
    if (file == nullptr) {
        const int error = errno;
        logMessage(4, baseName(__FILE__), __LINE__, "failed to create file: %s (%s)\n", path,
                   std::strerror(error));
        return -1;
    }
    // An earlier stream stays open: another thread may be writing to it right now.
    logFile.store(file);
    return 0;
}

void openConsole() {
    kv::platform::attachConsole();
    enableConsoleColours();
}

void consoleToStandardError() {
    console.store(stderr);
    colours = false;
}

void enableConsoleColours() {
    colours = kv::platform::stdoutIsTerminal();
}

} // namespace ru_rod
