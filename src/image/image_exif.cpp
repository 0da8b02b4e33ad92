// The orientation entry of a JPEG's EXIF block: phones store most photos
// sideways and record how to turn them.
#include <stddef.h>
#include <stdint.h>

#include "image/image_decode.h"

static const uint16_t TAG_ORIENTATION = 0x0112;
static const uint16_t TYPE_SHORT = 3;

namespace {

// Reads the block's numbers in the byte order its header names, refusing
// any read past its end.
struct tiff_reader {
    const uint8_t* data;
    size_t length;
    bool big_endian;

    bool u16(size_t at, uint16_t* value) const {
        if (at > length || length - at < 2) return false;
        const uint8_t* p = data + at;
        *value = big_endian ? static_cast<uint16_t>(p[0] << 8 | p[1]) : static_cast<uint16_t>(p[1] << 8 | p[0]);
        return true;
    }
    bool u32(size_t at, uint32_t* value) const {
        uint16_t a = 0, b = 0;
        if (!u16(at, &a) || !u16(at + 2, &b)) return false;
        *value = big_endian ? (static_cast<uint32_t>(a) << 16 | b) : (static_cast<uint32_t>(b) << 16 | a);
        return true;
    }
};

}  // namespace

int exif_orientation(const uint8_t* tiff, size_t length) {
    if (!tiff || length < 8) return 1;
    tiff_reader reader{tiff, length, false};
    if (tiff[0] == 'M' && tiff[1] == 'M') reader.big_endian = true;
    else if (tiff[0] != 'I' || tiff[1] != 'I') return 1;
    uint16_t magic = 0, entries = 0;
    uint32_t first_directory = 0;
    if (!reader.u16(2, &magic) || magic != 42 || !reader.u32(4, &first_directory) ||
        !reader.u16(first_directory, &entries))
        return 1;
    for (size_t i = 0; i < entries; ++i) {
        const size_t entry = static_cast<size_t>(first_directory) + 2 + i * 12;
        uint16_t tag = 0, type = 0, value = 0;
        uint32_t count = 0;
        if (!reader.u16(entry, &tag) || !reader.u16(entry + 2, &type) || !reader.u32(entry + 4, &count) ||
            !reader.u16(entry + 8, &value))
            return 1;
        if (tag == TAG_ORIENTATION)
            return type == TYPE_SHORT && count == 1 && value >= 1 && value <= 8 ? value : 1;
    }
    return 1;
}
