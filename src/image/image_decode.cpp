#include "image/image_decode.h"

#include <string.h>

const char* load_failure_text(load_failure failure) {
    switch (failure) {
        case load_failure::none: return "";
        case load_failure::unreadable: return "Cannot read the file";
        case load_failure::unsupported: return "Unsupported image format";
        case load_failure::too_large: return "Image too large";
        case load_failure::corrupt: return "Corrupt or truncated image data";
        case load_failure::out_of_memory: return "Out of memory";
    }
    return "";
}

int64_t min_bytes_at_ratio(int64_t pixels, int64_t pixels_per_byte) {
    const int64_t free_pixels = int64_t(1) << 20;
    return pixels <= free_pixels ? 0 : (pixels - free_pixels) / pixels_per_byte;
}

bool declared_size_allowed(int64_t width, int64_t height, load_failure* failure) {
    if (image_size_allowed(width, height)) return true;
    *failure = width > 0 && height > 0 ? load_failure::too_large : load_failure::corrupt;
    return false;
}

// Orientations 5 to 8 exchange the picture's width and height.
static bool transposes(int orientation) { return orientation >= 5 && orientation <= 8; }

bool header_size_allowed(const decode_input& input, int64_t width, int64_t height,
                         load_failure* failure, int orientation) {
    decode_probe* probe = input.probe();
    if (!probe) return declared_size_allowed(width, height, failure);
    if (width <= 0 || height <= 0) {
        *failure = load_failure::corrupt;
        return false;
    }
    probe->found = true;
    probe->width = transposes(orientation) ? height : width;
    probe->height = transposes(orientation) ? width : height;
    return false;
}

// ------------------------------------------------------------------ rows

row_sink::~row_sink() {
    bl_image_free(image_);
    free(scratch_);
}

bool row_sink::begin(int64_t width, int64_t height, const decode_input& input,
                     int64_t min_file_bytes, int orientation) {
    if (!header_size_allowed(input, width, height, &failure, orientation)) return false;
    if (input.length() < min_file_bytes) {
        failure = load_failure::corrupt;
        return false;
    }
    orientation_ = orientation >= 1 && orientation <= 8 ? orientation : 1;
    width_ = width;
    height_ = height;
    const int32_t w = static_cast<int32_t>(width), h = static_cast<int32_t>(height);
    // Zero-filled pages cost nothing until rows are written into them.
    image_ = transposes(orientation_) ? bl_image_create(h, w, 3) : bl_image_create(w, h, 3);
    if (image_ && orientation_ != 1) scratch_ = static_cast<uint8_t*>(malloc(static_cast<size_t>(width) * 3));
    if (!image_ || (orientation_ != 1 && !scratch_)) {
        failure = load_failure::out_of_memory;
        return false;
    }
    return true;
}

uint8_t* row_sink::row(int64_t y) {
    if (orientation_ != 1) return scratch_;
    return image_->data + static_cast<size_t>(y) * static_cast<size_t>(width_) * 3;
}

void row_sink::commit(int64_t y) {
    if (orientation_ == 1) return;
    // Stored pixel (x, y) of a W x H picture lands at (ox, oy) of the turned
    // one; `step` is the distance between neighbouring stored pixels there.
    const int64_t W = width_, H = height_;
    const int64_t out_width = image_->width;
    int64_t ox = 0, oy = 0, dx = 0, dy = 0;
    switch (orientation_) {
        case 2: ox = W - 1, oy = y, dx = -1; break;            // mirrored left-right
        case 3: ox = W - 1, oy = H - 1 - y, dx = -1; break;    // turned half round
        case 4: ox = 0, oy = H - 1 - y, dx = 1; break;         // mirrored top-bottom
        case 5: ox = y, oy = 0, dy = 1; break;                 // mirrored along the diagonal
        case 6: ox = H - 1 - y, oy = 0, dy = 1; break;         // turned a quarter clockwise
        case 7: ox = H - 1 - y, oy = W - 1, dy = -1; break;    // mirrored along the other diagonal
        case 8: ox = y, oy = W - 1, dy = -1; break;            // turned a quarter anticlockwise
        default: break;
    }
    const int64_t step = (dy * out_width + dx) * 3;
    uint8_t* out = image_->data + (oy * out_width + ox) * 3;
    const uint8_t* in = scratch_;
    for (int64_t x = 0; x < W; ++x, in += 3, out += step) memcpy(out, in, 3);
}

bl_image* row_sink::release() {
    bl_image* image = image_;
    image_ = nullptr;
    return image;
}

// -------------------------------------------------------------- dispatch

static bool starts_with(const uint8_t* bytes, size_t n, const char* magic, size_t length) {
    return n >= length && memcmp(bytes, magic, length) == 0;
}

bool sniff_image_kind(decode_input& input, image_kind* kind, load_failure* failure) {
    uint8_t head[16] = {};
    const size_t n = input.read(head, sizeof head);
    if (!input.seek(0)) {
        *failure = load_failure::unreadable;
        return false;
    }
    if (starts_with(head, n, "\x89PNG\r\n\x1a\n", 8)) *kind = image_kind::png;
    else if (starts_with(head, n, "\xff\xd8\xff", 3)) *kind = image_kind::jpeg;
    else if (starts_with(head, n, "GIF87a", 6) || starts_with(head, n, "GIF89a", 6))
        *kind = image_kind::gif;
    else if (starts_with(head, n, "RIFF", 4) && n >= 12 && memcmp(head + 8, "WEBP", 4) == 0)
        *kind = image_kind::webp;
    else if (starts_with(head, n, "BM", 2)) *kind = image_kind::bmp;
    else if (n >= 3 && head[0] == 'P' && (head[1] == '5' || head[1] == '6') &&
             (head[2] == ' ' || (head[2] >= '\t' && head[2] <= '\r') || head[2] == '#'))
        *kind = image_kind::pnm;
    // A TGA has no signature: its header is judged by the decoder, which
    // calls anything else unsupported.
    else *kind = image_kind::tga;
    return true;
}

static bl_image* decode_kind(decode_input& input, image_kind kind, load_failure* failure) {
    switch (kind) {
        case image_kind::png: return decode_png(input, failure);
        case image_kind::jpeg: return decode_jpeg(input, failure);
        case image_kind::gif: return decode_gif(input, failure);
        case image_kind::webp: return decode_webp(input, failure);
        case image_kind::bmp: return decode_bmp(input, failure);
        case image_kind::pnm: return decode_pnm(input, failure);
        case image_kind::tga: return decode_tga(input, failure);
    }
    *failure = load_failure::unsupported;
    return nullptr;
}

bl_image* decode_image(decode_input& input, load_failure* failure) {
    image_kind kind;
    if (!sniff_image_kind(input, &kind, failure)) return nullptr;
    return decode_kind(input, kind, failure);
}

bool probe_image(decode_input& input, image_kind kind, decode_probe* probe, load_failure* failure) {
    input.probe_into(probe);
    // Every decoder stops at its header's size when probing; should one
    // ever finish instead, its picture is not what was asked for.
    bl_image_free(decode_kind(input, kind, failure));
    input.probe_into(nullptr);
    if (probe->found) return true;
    if (*failure == load_failure::none) *failure = load_failure::corrupt;
    return false;
}
