#include "platform/FileVersion.h"

#include "platform/PeImage.h"

#include <algorithm>
#include <limits>

namespace kv::platform {

namespace {

constexpr uint32_t kVersionResourceType = 16;
constexpr uint32_t kVersionInfoId = 1;
constexpr uint32_t kHighBit = 0x80000000;
constexpr uint32_t kDirectoryHeaderSize = 16;
constexpr uint32_t kDirectoryEntrySize = 8;
constexpr uint32_t kDataEntrySize = 16;
constexpr uint32_t kFixedInfoSignature = 0xFEEF04BD;
constexpr size_t kFixedInfoSize = 52;
constexpr size_t kBlockHeaderSize = 6;

// The data offset of an entry of the resource directory at the given offset: the entry with a
// numeric id, or the first entry when no id is asked for. A directory holds at most 131070
// entries, so the look-up is bounded whatever the file says.
std::optional<uint32_t> findEntry(PeImage& image, uint32_t directoryOffset,
                                  std::optional<uint32_t> id) {
    const uint64_t directory = uint64_t{image.resources().address} + directoryOffset;
    const auto header = image.readImage(directory, kDirectoryHeaderSize);
    if (!header) {
        return std::nullopt;
    }
    const uint32_t namedCount = le16(header->data() + 12);
    const uint32_t count = namedCount + le16(header->data() + 14);
    const auto entries =
        image.readImage(directory + kDirectoryHeaderSize, count * kDirectoryEntrySize);
    if (!entries || count == 0) {
        return std::nullopt;
    }
    if (!id) {
        return le32(entries->data() + 4);
    }
    for (uint32_t index = namedCount; index < count; ++index) {
        const uint8_t* entry = entries->data() + index * kDirectoryEntrySize;
        if (le32(entry) == *id) {
            return le32(entry + 4);
        }
    }
    return std::nullopt;
}

std::optional<uint32_t> findSubdirectory(PeImage& image, uint32_t directoryOffset,
                                         std::optional<uint32_t> id) {
    const auto entry = findEntry(image, directoryOffset, id);
    if (!entry || (*entry & kHighBit) == 0) {
        return std::nullopt;
    }
    return *entry & ~kHighBit;
}

// The VS_VERSIONINFO block: a header, a UTF-16 key, then the fixed file information at the
// next 32-bit boundary.
std::optional<FileVersion> parseVersionBlock(const Bytes& block) {
    if (block.size() < kBlockHeaderSize) {
        return std::nullopt;
    }
    const size_t end = std::min<size_t>(le16(block.data()), block.size());
    const uint16_t valueLength = le16(block.data() + 2);
    size_t position = kBlockHeaderSize;
    while (position + 2 <= end && le16(block.data() + position) != 0) {
        position += 2;
    }
    position = (position + 2 + 3) & ~size_t{3};
    if (valueLength == 0 || position + kFixedInfoSize > end) {
        return std::nullopt;
    }
    const uint8_t* info = block.data() + position;
    if (le32(info) != kFixedInfoSignature) {
        return std::nullopt;
    }
    const uint32_t mostSignificant = le32(info + 8);
    const uint32_t leastSignificant = le32(info + 12);
    return FileVersion{static_cast<uint16_t>(mostSignificant >> 16),
                       static_cast<uint16_t>(mostSignificant & 0xFFFF),
                       static_cast<uint16_t>(leastSignificant >> 16),
                       static_cast<uint16_t>(leastSignificant & 0xFFFF)};
}

} // namespace

std::optional<FileVersion> readFileVersion(const std::string& path) {
    auto image = PeImage::open(path);
    if (!image || image->resources().address == 0) {
        return std::nullopt;
    }
    const auto names = findSubdirectory(*image, 0, kVersionResourceType);
    const auto languages = names ? findSubdirectory(*image, *names, kVersionInfoId) : std::nullopt;
    const auto dataEntry = languages ? findEntry(*image, *languages, std::nullopt) : std::nullopt;
    if (!dataEntry || (*dataEntry & kHighBit) != 0) {
        return std::nullopt;
    }
    const auto data =
        image->readImage(uint64_t{image->resources().address} + *dataEntry, kDataEntrySize);
    if (!data) {
        return std::nullopt;
    }
    // The block's own length field is 16 bits wide, so nothing beyond that is ever needed.
    const uint32_t length =
        std::min<uint32_t>(le32(data->data() + 4), std::numeric_limits<uint16_t>::max());
    const auto block = image->readImage(le32(data->data()), length);
    return block ? parseVersionBlock(*block) : std::nullopt;
}

} // namespace kv::platform
