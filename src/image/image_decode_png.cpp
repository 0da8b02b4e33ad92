// PNG through libpng, row by row (interlaced passes combined in place).
#include <setjmp.h>
#include <string.h>

#include <png.h>

#include "image/image_decode.h"

// Deflate's best case: a 258-byte match in two one-bit codes.
static const int64_t DEFLATE_MAX_RATIO = 1032;

// Hostile files contain far more chunks than any real one; libpng keeps
// each ancillary chunk it is asked to, so a cap bounds that memory.
static const png_uint_32 PNG_MAX_CHUNK_COUNT = 1000;
static const png_alloc_size_t PNG_MAX_CHUNK_BYTES = 8u << 20;

// libpng works on each row in two buffers as wide as the row gets among our
// transformations: at most four samples a pixel (palette or tRNS expanded to
// alpha) of the file's sample size. A header may declare a row of gigabytes
// that a few bytes of compressed data fill, so that cost is capped too; the
// cap passes rows of 8 million pixels (4 million at 16 bits).
static const int64_t PNG_MAX_ROW_BYTES = 32 << 20;

static void png_fail(png_structp png, png_const_charp) { png_longjmp(png, 1); }
static void png_ignore_warning(png_structp, png_const_charp) {}

struct png_reader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~png_reader() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

// Asks libpng for our layout whatever the file holds: palettes looked up,
// grey widened to three equal channels (low depths scaled up first), alpha
// dropped, 16-bit samples cut to their high byte.
static void request_rgb8(png_structp png, png_infop info) {
    const int colour = png_get_color_type(png, info);
    if (colour == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colour == PNG_COLOR_TYPE_GRAY && png_get_bit_depth(png, info) < 8)
        png_set_expand_gray_1_2_4_to_8(png);
    if (colour == PNG_COLOR_TYPE_GRAY || colour == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
    png_set_strip_alpha(png);
    png_set_strip_16(png);
}

// What libpng would set up for one row of the picture, at the widest.
static int64_t working_row_bytes(int64_t width, int bit_depth) {
    return width * 4 * (bit_depth > 8 ? 2 : 1);
}

// Whether the header's picture may be decoded: judged from the declared
// size and from what its rows cost, before png_read_update_info sets those
// rows up (a 74-byte file declaring 2^31 - 1 pixels a row once cost 6 GB).
static bool header_allowed(png_structp png, png_infop info, const decode_input& input,
                           load_failure* failure) {
    png_uint_32 width = 0, height = 0;
    int bit_depth = 0;
    png_get_IHDR(png, info, &width, &height, &bit_depth, nullptr, nullptr, nullptr, nullptr);
    if (!header_size_allowed(input, width, height, failure)) return false;
    if (working_row_bytes(width, bit_depth) <= PNG_MAX_ROW_BYTES) return true;
    *failure = load_failure::too_large;
    return false;
}

// The stored bytes (filter bytes included) the picture's rows take.
static int64_t raw_bytes(png_structp png, png_infop info) {
    const int64_t bits = static_cast<int64_t>(png_get_channels(png, info)) * png_get_bit_depth(png, info);
    const int64_t width = png_get_image_width(png, info), height = png_get_image_height(png, info);
    return height * (1 + (width * bits + 7) / 8);
}

static uint32_t be32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

// Whether every chunk lies within the file. libpng allocates (and clears) a
// chunk's declared length before reading it, so a 100-byte file declaring a
// 1.8 GB text chunk would cost 1.8 GB; the chunk headers are walked first
// and such a file is refused. The input is left at its start.
static bool chunks_within_file(decode_input& input) {
    int64_t at = 8;  // past the signature
    uint8_t header[8];
    while (at < input.length()) {
        if (!input.seek(at) || !input.read_exact(header, 8)) return false;
        const int64_t length = be32(header);
        if (length > PNG_UINT_31_MAX || at + 12 + length > input.length()) return false;
        if (memcmp(header + 4, "IEND", 4) == 0) break;
        at += 12 + length;
    }
    return input.seek(0);
}

// libpng's reads, from our input; a short one is an error, as in libpng's
// own file reader.
static void read_from_input(png_structp png, png_bytep data, size_t length) {
    if (!static_cast<decode_input*>(png_get_io_ptr(png))->read_exact(data, length)) png_error(png, "Read Error");
}

// Kept free of objects with destructors: libpng leaves it by longjmp.
static bool read_png(png_structp png, png_infop info, const decode_input& input, row_sink& sink) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_info(png, info);
    if (!header_allowed(png, info, input, &sink.failure)) return false;
    const int64_t min_bytes = raw_bytes(png, info) / DEFLATE_MAX_RATIO;
    request_rgb8(png, info);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info), height = png_get_image_height(png, info);
    if (png_get_channels(png, info) != 3 || png_get_bit_depth(png, info) != 8 ||
        png_get_rowbytes(png, info) != static_cast<size_t>(width) * 3)
        return false;
    if (!sink.begin(width, height, input, min_bytes)) return false;
    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 y = 0; y < height; ++y) png_read_row(png, sink.row(y), nullptr);
    return true;
}

// A probe reads the size from the header chunk, which every PNG starts
// with: libpng reads on to the chunks after it before it tells the size, and
// a file that holds only its headers has none.
static bool probe_header_chunk(decode_input& input, load_failure* failure) {
    uint8_t head[24];
    *failure = load_failure::corrupt;
    if (!input.seek(0) || !input.read_exact(head, sizeof head) || memcmp(head + 12, "IHDR", 4) != 0)
        return false;
    return header_size_allowed(input, be32(head + 16), be32(head + 20), failure);
}

bl_image* decode_png(decode_input& input, load_failure* failure) {
    if (input.probe()) {
        probe_header_chunk(input, failure);
        return nullptr;
    }
    if (!chunks_within_file(input)) {
        *failure = load_failure::corrupt;
        return nullptr;
    }
    png_reader reader;
    reader.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, png_fail, png_ignore_warning);
    if (reader.png) reader.info = png_create_info_struct(reader.png);
    if (!reader.info) {
        *failure = load_failure::out_of_memory;
        return nullptr;
    }
    // libpng's own side limits (a million by default) are opened to the
    // format's: header_allowed judges the sides, and its refusal says the
    // picture is too large rather than that its header is damaged.
    png_set_user_limits(reader.png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    png_set_chunk_cache_max(reader.png, PNG_MAX_CHUNK_COUNT);
    png_set_chunk_malloc_max(reader.png, PNG_MAX_CHUNK_BYTES);
    // Chunks we never use are skipped unread.
    png_set_keep_unknown_chunks(reader.png, PNG_HANDLE_CHUNK_NEVER, nullptr, 0);
    png_set_read_fn(reader.png, &input, read_from_input);
    row_sink sink;
    if (!read_png(reader.png, reader.info, input, sink)) {
        *failure = sink.failure;
        return nullptr;
    }
    return sink.release();
}
