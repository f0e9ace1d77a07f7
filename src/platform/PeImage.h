#pragma once

#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace kv::platform {

// Whether the file is a Portable Executable (a Windows program or library).
bool isPeFile(const std::string& path);

using Bytes = std::vector<uint8_t>;

inline uint16_t le16(const uint8_t* bytes) {
    return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

inline uint32_t le32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// A Portable Executable file, opened to read what lies at an address of its loaded image.
// The file may be truncated or hostile: every read stays inside the file and inside the one
// section that holds the address.
class PeImage {
public:
    struct DataDirectory {
        uint32_t address = 0;
        uint32_t size = 0;
    };

    static std::optional<PeImage> open(const std::string& path);

    const DataDirectory& resources() const { return resources_; }

    // Exactly length bytes from the image address, or nullopt when they are not all in the file.
    std::optional<Bytes> readImage(uint64_t address, uint32_t length);

private:
    struct Section {
        uint32_t address;
        uint32_t size;
        uint32_t fileOffset;
    };

    PeImage(std::ifstream file, uint64_t fileSize);
    bool readHeaders();
    std::optional<Bytes> readFile(uint64_t offset, uint64_t length);

    std::ifstream file_;
    uint64_t fileSize_;
    DataDirectory resources_;
    std::vector<Section> sections_;
};

} // namespace kv::platform
