// TGA (colour-mapped, true-colour and grey; plain and run-length encoded),
// read row by row. Runs are followed pixel by pixel and may not reach past
// the picture or the file; colour-map indices must lie in the map.
#include <string.h>

#include <memory>
#include <new>
#include <vector>

#include "image/image_decode.h"

// A run-length packet header covers at most 128 pixels.
static const int64_t RLE_MAX_PIXELS_PER_BYTE = 128;

namespace {

struct tga_layout {
    int64_t width = 0, height = 0;
    int type = 0;          // 1 mapped, 2 true colour, 3 grey; +8 run-length encoded
    int pixel_bytes = 0;   // stored bytes per pixel
    int pixel_bits = 0;
    bool top_down = false, right_to_left = false;
    int map_first = 0;
    std::vector<uint8_t> map;  // R, G, B per entry
    bool run_length() const { return type >= 9; }
    int base_type() const { return type & 7; }
};

// A stored pixel of 8 (grey), 15/16 (5-5-5), 24 or 32 bits (B, G, R[, A]) as R, G, B.
void colour_of(const uint8_t* p, int bits, uint8_t* out) {
    if (bits == 8) {
        out[0] = out[1] = out[2] = p[0];
    } else if (bits == 15 || bits == 16) {
        const unsigned v = p[0] | p[1] << 8;
        out[0] = static_cast<uint8_t>(((v >> 10) & 31) * 255 / 31);
        out[1] = static_cast<uint8_t>(((v >> 5) & 31) * 255 / 31);
        out[2] = static_cast<uint8_t>((v & 31) * 255 / 31);
    } else {
        out[0] = p[2], out[1] = p[1], out[2] = p[0];
    }
}

bool valid_pixel_bits(int type, int bits) {
    if (type == 1) return bits == 8 || bits == 16;
    if (type == 2) return bits == 15 || bits == 16 || bits == 24 || bits == 32;
    return bits == 8 || bits == 16;  // grey, or grey and alpha
}

// Reads the header, the identification field and the colour map. A file
// that is no TGA at all is called unsupported.
bool read_layout(decode_input& input, tga_layout* t, load_failure* failure) {
    uint8_t h[18];
    *failure = load_failure::unsupported;
    if (!input.read_exact(h, sizeof h)) return false;
    const int map_type = h[1], map_length = h[5] | h[6] << 8, map_bits = h[7];
    t->type = h[2];
    t->map_first = h[3] | h[4] << 8;
    t->width = h[12] | h[13] << 8;
    t->height = h[14] | h[15] << 8;
    t->pixel_bits = h[16];
    t->top_down = (h[17] & 0x20) != 0;
    t->right_to_left = (h[17] & 0x10) != 0;
    const int base = t->base_type();
    if ((t->type & ~8) < 1 || (t->type & ~8) > 3 || map_type > 1 || (base == 1) != (map_type == 1) ||
        !valid_pixel_bits(base, t->pixel_bits) || t->width == 0 || t->height == 0)
        return false;
    if (map_type == 1 && map_bits != 15 && map_bits != 16 && map_bits != 24 && map_bits != 32) return false;
    // The declared size is judged before the colour map is read.
    if (!header_size_allowed(input, t->width, t->height, failure)) return false;
    *failure = load_failure::corrupt;
    t->pixel_bytes = (t->pixel_bits + 7) / 8;
    const int64_t id_start = input.tell();  // the identification field is skipped
    if (id_start < 0 || !input.seek(id_start + h[0])) return false;
    if (map_type == 0) return true;
    const int entry_bytes = (map_bits + 7) / 8;
    std::vector<uint8_t> raw(static_cast<size_t>(map_length) * entry_bytes);
    if (!input.read_exact(raw.data(), raw.size())) return false;
    t->map.resize(static_cast<size_t>(map_length) * 3);
    for (int i = 0; i < map_length; ++i) colour_of(&raw[static_cast<size_t>(i) * entry_bytes], map_bits, &t->map[i * 3]);
    return true;
}

// Reads stored pixels through a buffer, following run-length packets
// across row ends as the format allows.
class pixel_reader {
public:
    pixel_reader(decode_input& input, const tga_layout& t) : input_(input), t_(t) {}

    bool next(uint8_t* pixel) {
        if (!t_.run_length()) return byte_run(pixel, t_.pixel_bytes);
        if (left_ == 0) {
            uint8_t header = 0;
            if (!byte_run(&header, 1)) return false;
            left_ = (header & 127) + 1;
            repeat_ = (header & 128) != 0;
            if (repeat_ && !byte_run(run_pixel_, t_.pixel_bytes)) return false;
        }
        --left_;
        if (repeat_) {
            memcpy(pixel, run_pixel_, static_cast<size_t>(t_.pixel_bytes));
            return true;
        }
        return byte_run(pixel, t_.pixel_bytes);
    }

private:
    bool byte_run(uint8_t* out, int n) {
        for (int i = 0; i < n; ++i) {
            if (at_ == filled_) {
                filled_ = input_.read(buffer_, sizeof buffer_);
                at_ = 0;
                if (filled_ == 0) return false;
            }
            out[i] = buffer_[at_++];
        }
        return true;
    }

    decode_input& input_;
    const tga_layout& t_;
    uint8_t buffer_[1 << 16];
    size_t at_ = 0, filled_ = 0;
    int left_ = 0;
    bool repeat_ = false;
    uint8_t run_pixel_[4] = {};
};

bool convert(const tga_layout& t, const uint8_t* stored, uint8_t* out) {
    if (t.base_type() != 1) {
        colour_of(stored, t.base_type() == 3 ? 8 : t.pixel_bits, out);
        return true;
    }
    const int index = (t.pixel_bytes == 2 ? stored[0] | stored[1] << 8 : stored[0]) - t.map_first;
    if (index < 0 || static_cast<size_t>(index) * 3 >= t.map.size()) return false;
    memcpy(out, &t.map[static_cast<size_t>(index) * 3], 3);
    return true;
}

bool read_rows(const tga_layout& t, decode_input& input, row_sink& sink) {
    std::unique_ptr<pixel_reader> reader(new (std::nothrow) pixel_reader(input, t));
    if (!reader) return false;
    uint8_t stored[4];
    for (int64_t i = 0; i < t.height; ++i) {
        const int64_t y = t.top_down ? i : t.height - 1 - i;
        uint8_t* row = sink.row(y);
        for (int64_t x = 0; x < t.width; ++x) {
            const int64_t column = t.right_to_left ? t.width - 1 - x : x;
            if (!reader->next(stored) || !convert(t, stored, row + column * 3)) return false;
        }
    }
    return true;
}

}  // namespace

bl_image* decode_tga(decode_input& input, load_failure* failure) {
    tga_layout t;
    if (!read_layout(input, &t, failure)) return nullptr;
    const int64_t pixels = t.width * t.height;
    const int64_t data_start = input.tell();
    const int64_t needed = t.run_length() ? data_start + min_bytes_at_ratio(pixels, RLE_MAX_PIXELS_PER_BYTE)
                                          : data_start + pixels * t.pixel_bytes;
    row_sink sink;
    if (data_start < 0 || !sink.begin(t.width, t.height, input, needed) || !read_rows(t, input, sink)) {
        *failure = sink.failure;
        return nullptr;
    }
    return sink.release();
}
