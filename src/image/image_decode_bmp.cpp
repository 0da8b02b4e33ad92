// Uncompressed BMP (1, 4, 8, 16, 24 and 32 bits; bottom-up and top-down),
// read row by row. Every palette index is checked against the palette the
// file holds, and the file must hold every row it declares.
#include <string.h>

#include <vector>

#include "image/image_decode.h"

static const uint32_t BI_RGB = 0, BI_BITFIELDS = 3;

namespace {

uint32_t le16(const uint8_t* p) { return p[0] | p[1] << 8; }
uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

// One colour field of a 16- or 32-bit pixel, widened to 8 bits by repeating
// its bits (fields wider than 8 keep their top 8).
struct channel_mask {
    uint32_t mask = 0;
    int top = 0;   // position of the highest bit
    int bits = 0;  // bits used, at most 8

    explicit channel_mask(uint32_t m = 0) : mask(m) {
        int count = 0;
        for (int b = 0; b < 32; ++b)
            if (m >> b & 1) top = b, ++count;
        bits = count > 8 ? 8 : count;
    }
    uint8_t value(uint32_t pixel) const {
        if (!mask) return 0;
        uint32_t v = pixel & mask;
        v = top >= 7 ? v >> (top - 7) : v << (7 - top);
        v = (v & 255) >> (8 - bits);
        uint32_t out = 0;
        for (int shift = 8 - bits; shift > -bits; shift -= bits)
            out |= shift >= 0 ? v << shift : v >> -shift;
        return static_cast<uint8_t>(out);
    }
};

struct bmp_layout {
    int64_t width = 0, height = 0;
    bool top_down = false;
    int bits = 0;
    uint32_t offset = 0;
    channel_mask masks[3];
    std::vector<uint8_t> palette;  // R, G, B per entry
    int64_t stride() const { return (bits * width + 31) / 32 * 4; }
    int64_t row_bytes() const { return (bits * width + 7) / 8; }
};

// The masks of a 16- or 32-bit file: its own with BI_BITFIELDS, else the
// fixed 5-5-5 or 8-8-8 layouts.
void set_masks(bmp_layout* layout, uint32_t compression, const uint32_t own[3]) {
    const uint32_t five[3] = {0x7C00, 0x03E0, 0x001F}, eight[3] = {0xFF0000, 0xFF00, 0xFF};
    const uint32_t* m = compression == BI_BITFIELDS ? own : layout->bits == 16 ? five : eight;
    for (int c = 0; c < 3; ++c) layout->masks[c] = channel_mask(m[c]);
}

// Reads the headers and the palette; the file is left at the palette's end.
// Unsupported layouts (RLE, embedded JPEG or PNG) are told apart from damage.
bool read_layout(decode_input& input, bmp_layout* layout, load_failure* failure) {
    uint8_t h[14 + 124 + 12] = {};
    if (!input.read_exact(h, 18)) return false;
    layout->offset = le32(h + 10);
    const uint32_t info_size = le32(h + 14);
    const bool core = info_size == 12;
    if (!core && info_size != 40 && info_size != 52 && info_size != 56 && info_size != 108 && info_size != 124) {
        *failure = load_failure::unsupported;
        return false;
    }
    if (!input.read_exact(h + 18, info_size - 4)) return false;
    uint32_t compression = BI_RGB;
    size_t header_end = 14 + info_size;
    uint32_t own_masks[3] = {0, 0, 0};
    if (core) {
        layout->width = le16(h + 18);
        layout->height = le16(h + 20);
        layout->bits = static_cast<int>(le16(h + 24));
    } else {
        layout->width = static_cast<int32_t>(le32(h + 18));
        const int64_t height = static_cast<int32_t>(le32(h + 22));
        layout->top_down = height < 0;
        layout->height = height < 0 ? -height : height;
        layout->bits = static_cast<int>(le16(h + 28));
        compression = le32(h + 30);
        if (info_size == 40 && compression == BI_BITFIELDS) {
            if (!input.read_exact(h + header_end, 12)) return false;
            header_end += 12;
        }
        for (int c = 0; c < 3; ++c) own_masks[c] = le32(h + 54 + 4 * c);
    }
    const int bits = layout->bits;
    const bool palette_bits = bits == 1 || bits == 4 || bits == 8;
    if (le16(h + (core ? 22 : 26)) != 1 || (!palette_bits && bits != 16 && bits != 24 && bits != 32))
        return false;
    if (compression != BI_RGB && !(compression == BI_BITFIELDS && (bits == 16 || bits == 32))) {
        *failure = load_failure::unsupported;
        return false;
    }
    if (layout->offset < header_end) return false;
    set_masks(layout, compression, own_masks);
    if (!palette_bits) return true;
    // The palette fills the space between the headers and the pixels.
    const size_t entry = core ? 3 : 4;
    size_t entries = (layout->offset - header_end) / entry;
    if (entries > 256) entries = 256;
    if (entries == 0) return false;
    std::vector<uint8_t> raw(entries * entry);
    if (!input.read_exact(raw.data(), raw.size())) return false;
    layout->palette.resize(entries * 3);
    for (size_t i = 0; i < entries; ++i) {
        layout->palette[i * 3] = raw[i * entry + 2];
        layout->palette[i * 3 + 1] = raw[i * entry + 1];
        layout->palette[i * 3 + 2] = raw[i * entry];
    }
    return true;
}

// Converts one stored row; false when a palette index lies past the palette.
bool convert_row(const bmp_layout& layout, const uint8_t* in, uint8_t* out) {
    const size_t entries = layout.palette.size() / 3;
    for (int64_t x = 0; x < layout.width; ++x, out += 3) {
        if (layout.bits <= 8) {
            const int64_t bit = x * layout.bits;
            const size_t index = (in[bit / 8] >> (8 - layout.bits - bit % 8)) & ((1 << layout.bits) - 1);
            if (index >= entries) return false;
            memcpy(out, &layout.palette[index * 3], 3);
        } else if (layout.bits == 24) {
            const uint8_t* p = in + x * 3;
            out[0] = p[2], out[1] = p[1], out[2] = p[0];
        } else {
            const uint32_t pixel = layout.bits == 16 ? le16(in + x * 2) : le32(in + x * 4);
            for (int c = 0; c < 3; ++c) out[c] = layout.masks[c].value(pixel);
        }
    }
    return true;
}

bool read_rows(const bmp_layout& layout, decode_input& input, row_sink& sink) {
    if (!input.seek(layout.offset)) return false;
    std::vector<uint8_t> row(static_cast<size_t>(layout.stride()));
    for (int64_t i = 0; i < layout.height; ++i) {
        // Some writers leave out the last row's padding.
        const bool last = i == layout.height - 1;
        if (!input.read_exact(row.data(), static_cast<size_t>(last ? layout.row_bytes() : layout.stride())))
            return false;
        const int64_t y = layout.top_down ? i : layout.height - 1 - i;
        if (!convert_row(layout, row.data(), sink.row(y))) return false;
    }
    return true;
}

}  // namespace

bl_image* decode_bmp(decode_input& input, load_failure* failure) {
    bmp_layout layout;
    load_failure refused = load_failure::corrupt;
    if (!read_layout(input, &layout, &refused)) {
        *failure = refused;
        return nullptr;
    }
    row_sink sink;
    // Counted only for sizes that may be decoded, which keeps it in range.
    const int64_t needed = image_size_allowed(layout.width, layout.height)
                               ? layout.offset + layout.stride() * (layout.height - 1) + layout.row_bytes()
                               : 0;
    if (!sink.begin(layout.width, layout.height, input, needed) || !read_rows(layout, input, sink)) {
        *failure = sink.failure;
        return nullptr;
    }
    return sink.release();
}
