#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace kv::platform {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// The program's own files. Each opens the entry at the path itself: a symbolic link there is
// never followed, and anything but a regular file is refused. On failure null, with errno
// telling why.

// For reading.
FilePtr openForReading(const std::string& path);
// For reading and appending; a missing file is created, exclusively.
FilePtr openForAppending(const std::string& path);
// For reading and writing, a new empty file in place of whatever entry had the name; the entry
// is removed, never what a link there names, and the new file is created exclusively.
FilePtr createReplacing(const std::string& path);

// Drops everything the open file holds; what is written next starts it afresh.
bool emptyFile(std::FILE* file);

// Writes the whole content beside the path and renames it into place, so that a reader, or a
// program killed meanwhile, never sees half a file. False when it could not.
bool replaceWhole(const std::string& path, const std::string& content);

// Makes a folder that only the user may enter, with any missing parents made as usual; a folder
// that is already there stays as it is. True when the folder is there.
bool createPrivateFolder(const std::string& path);

} // namespace kv::platform
