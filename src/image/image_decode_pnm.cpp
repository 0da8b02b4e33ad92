// Binary PNM: P5 (grey) and P6 (RGB), 8- or 16-bit samples, row by row.
#include <vector>

#include "image/image_decode.h"

static const int64_t PNM_MAX_NUMBER = INT32_MAX;

namespace {

struct pnm_layout {
    int64_t width = 0, height = 0, maxval = 0;
    int channels = 0;
    int sample_bytes() const { return maxval > 255 ? 2 : 1; }
};

bool is_space(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The next header number, after whitespace and comment lines; false for
// anything else and for numbers past 2^31 - 1. `after` is the byte that ended it.
bool read_number(decode_input& input, int64_t* value, int* after) {
    int c = input.get();
    for (;;) {
        while (is_space(c)) c = input.get();
        if (c != '#') break;
        while (c != EOF && c != '\n' && c != '\r') c = input.get();
    }
    if (c < '0' || c > '9') return false;
    *value = 0;
    for (; c >= '0' && c <= '9'; c = input.get()) {
        *value = *value * 10 + (c - '0');
        if (*value > PNM_MAX_NUMBER) return false;
    }
    *after = c;
    return true;
}

bool read_layout(decode_input& input, pnm_layout* p) {
    char magic[2];
    if (!input.read_exact(magic, 2)) return false;
    p->channels = magic[1] == '6' ? 3 : 1;
    int after = 0;
    // One whitespace byte separates the header from the samples.
    return read_number(input, &p->width, &after) && read_number(input, &p->height, &after) &&
           read_number(input, &p->maxval, &after) && is_space(after) && p->maxval >= 1 &&
           p->maxval <= 65535;
}

// Samples of a full 8- or 16-bit range keep their (high) byte, as in every
// other format; other ranges are stretched to 0 ... 255.
uint8_t to_byte(const uint8_t* sample, const pnm_layout& p) {
    if (p.maxval == 255 || p.maxval == 65535) return sample[0];  // samples are big-endian
    const int64_t v = p.sample_bytes() == 2 ? (sample[0] << 8 | sample[1]) : sample[0];
    const int64_t clamped = v > p.maxval ? p.maxval : v;
    return static_cast<uint8_t>((clamped * 255 + p.maxval / 2) / p.maxval);
}

}  // namespace

bl_image* decode_pnm(decode_input& input, load_failure* failure) {
    pnm_layout p;
    row_sink sink;
    if (!read_layout(input, &p)) {
        *failure = load_failure::corrupt;
        return nullptr;
    }
    const int64_t data_start = input.tell();
    const int64_t row_bytes = p.width * p.channels * p.sample_bytes();
    // Counted only for sizes that may be decoded, which keeps it in range.
    const int64_t needed = image_size_allowed(p.width, p.height) ? data_start + row_bytes * p.height : 0;
    if (data_start < 0 || !sink.begin(p.width, p.height, input, needed)) {
        *failure = sink.failure;
        return nullptr;
    }
    std::vector<uint8_t> stored(static_cast<size_t>(row_bytes));
    const int step = p.sample_bytes();
    for (int64_t y = 0; y < p.height; ++y) {
        if (!input.read_exact(stored.data(), stored.size())) {
            *failure = load_failure::corrupt;
            return nullptr;
        }
        uint8_t* out = sink.row(y);
        const uint8_t* in = stored.data();
        for (int64_t x = 0; x < p.width; ++x, out += 3)
            for (int c = 0; c < 3; ++c) out[c] = to_byte(in + (x * p.channels + (p.channels == 3 ? c : 0)) * step, p);
    }
    return sink.release();
}
