#include "platform/PeImage.h"

#include <algorithm>
#include <filesystem>

namespace kv::platform {

namespace {

constexpr uint64_t kDosHeaderSize = 64;
constexpr uint64_t kPeHeaderOffsetField = 0x3C;
constexpr uint64_t kFileHeaderSize = 24;
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint32_t kResourceDirectoryIndex = 2;
constexpr uint64_t kSectionHeaderSize = 40;

} // namespace

bool isPeFile(const std::string& path) {
    return PeImage::open(path).has_value();
}

PeImage::PeImage(std::ifstream file, uint64_t fileSize)
    : file_(std::move(file)), fileSize_(fileSize) {}

std::optional<PeImage> PeImage::open(const std::string& path) {
    std::error_code error;
    // Anything but a regular file (a FIFO, a device) could block or never end.
    if (!std::filesystem::is_regular_file(path, error)) {
        return std::nullopt;
    }
    const uint64_t size = std::filesystem::file_size(path, error);
    if (error) {
        return std::nullopt;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    PeImage image(std::move(file), size);
    if (!image.readHeaders()) {
        return std::nullopt;
    }
    return image;
}

bool PeImage::readHeaders() {
    const auto dos = readFile(0, kDosHeaderSize);
    if (!dos || (*dos)[0] != 'M' || (*dos)[1] != 'Z') {
        return false;
    }
    const uint64_t peOffset = le32(dos->data() + kPeHeaderOffsetField);
    const auto fileHeader = readFile(peOffset, kFileHeaderSize);
    if (!fileHeader || le32(fileHeader->data()) != 0x00004550) {
        return false;
    }
    const uint16_t sectionCount = le16(fileHeader->data() + 6);
    const uint16_t optionalSize = le16(fileHeader->data() + 20);
    const auto optional = readFile(peOffset + kFileHeaderSize, optionalSize);
    if (!optional || optionalSize < 2) {
        return false;
    }
    size_t countOffset = 0;
    switch (le16(optional->data())) {
    case kPe32Magic:
        countOffset = 92;
        break;
    case kPe32PlusMagic:
        countOffset = 108;
        break;
    default:
        return false;
    }
    if (optionalSize < countOffset + 4) {
        return false;
    }
    const uint32_t directoryCount = le32(optional->data() + countOffset);
    const size_t resourceEntry = countOffset + 4 + kResourceDirectoryIndex * 8;
    if (directoryCount > kResourceDirectoryIndex && resourceEntry + 8 <= optionalSize) {
        resources_.address = le32(optional->data() + resourceEntry);
        resources_.size = le32(optional->data() + resourceEntry + 4);
    }
    const auto table =
        readFile(peOffset + kFileHeaderSize + optionalSize, sectionCount * kSectionHeaderSize);
    if (!table) {
        return false;
    }
    for (uint16_t index = 0; index < sectionCount; ++index) {
        const uint8_t* header = table->data() + index * kSectionHeaderSize;
        const uint32_t virtualSize = le32(header + 8);
        const uint32_t rawSize = le32(header + 16);
        // Only the bytes that are both in the file and in the loaded section hold its data.
        const uint32_t size = virtualSize != 0 ? std::min(virtualSize, rawSize) : rawSize;
        sections_.push_back(Section{le32(header + 12), size, le32(header + 20)});
    }
    return true;
}

std::optional<Bytes> PeImage::readImage(uint64_t address, uint32_t length) {
    for (const Section& section : sections_) {
        if (address >= section.address &&
            address + length <= uint64_t{section.address} + section.size) {
            return readFile(section.fileOffset + (address - section.address), length);
        }
    }
    return std::nullopt;
}

std::optional<Bytes> PeImage::readFile(uint64_t offset, uint64_t length) {
    if (length > fileSize_ || offset > fileSize_ - length) {
        return std::nullopt;
    }
    Bytes bytes(length);
    file_.clear();
    file_.seekg(static_cast<std::streamoff>(offset));
    file_.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(length));
    if (static_cast<uint64_t>(file_.gcount()) != length) {
        return std::nullopt;
    }
    return bytes;
}

} // namespace kv::platform
