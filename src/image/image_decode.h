// Decoding image files from strangers into the library's 8-bit RGB image:
// one decoder per format, each reading its input (a file or memory) row by
// row into a row_sink that owns the picture being filled.
#ifndef BL_IMAGE_DECODE_H
#define BL_IMAGE_DECODE_H

#include <stdint.h>

#include "image/decode_input.h"
#include "image/image_io.h"

// Receives the decoded rows of one picture. begin() judges the declared size
// and allocates the result; each stored row (top to bottom as the file
// numbers them) is written into row(y) and handed over with commit(y). The
// EXIF orientation given to begin() turns and mirrors the picture as rows
// arrive, so no second copy of it is ever made.
class row_sink {
public:
    row_sink() = default;
    row_sink(const row_sink&) = delete;
    row_sink& operator=(const row_sink&) = delete;
    ~row_sink();

    // Allocates for a stored picture of width x height. Refused (false, with
    // the failure set) when a side is not positive, the pixel count passes
    // the limit, or the file is shorter than min_file_bytes: the fewest bytes
    // any file of the format holds for so many pixels, so that a small file
    // cannot make us allocate for pixels it does not contain.
    bool begin(int64_t width, int64_t height, const decode_input& input, int64_t min_file_bytes,
               int orientation = 1);
    // Where stored row y is written: width R, G, B pixels. Rows written again
    // (interlaced passes) keep what earlier passes put there.
    uint8_t* row(int64_t y);
    void commit(int64_t y);
    // The finished picture; the sink is empty afterwards.
    bl_image* release();

    int64_t width() const { return width_; }
    int64_t height() const { return height_; }
    load_failure failure = load_failure::corrupt;

private:
    bl_image* image_ = nullptr;
    uint8_t* scratch_ = nullptr;  // one stored row, when the picture is turned
    int64_t width_ = 0, height_ = 0;
    int orientation_ = 1;
};

// Whether a picture of width x height may be decoded at all: positive sides,
// within the pixel limit, and a byte count the image record can hold.
bool image_size_allowed(int64_t width, int64_t height);

// The same for the size a header declares, judged before anything is
// allocated for its pixels; when refused, *failure says why: too large, or
// corrupt for a side that is not positive.
bool declared_size_allowed(int64_t width, int64_t height, load_failure* failure);

// declared_size_allowed at the point where a decoder has read its header's
// size. For a probe (decode_input::probe_into) the size is recorded there,
// turned as `orientation` turns the picture, and the decode stops (false).
bool header_size_allowed(const decode_input& input, int64_t width, int64_t height,
                         load_failure* failure, int orientation = 1);

// The formats the decoders read, told apart by the input's first bytes
// (tga: anything else, which its decoder judges). The input is left at its start.
enum class image_kind { png, jpeg, gif, webp, bmp, pnm, tga };
bool sniff_image_kind(decode_input& input, image_kind* kind, load_failure* failure);

// Runs the decoder of `kind` on a probing input up to its header's size:
// true with *probe filled, else false with the failure (unsupported,
// corrupt, out of memory).
bool probe_image(decode_input& input, image_kind kind, decode_probe* probe, load_failure* failure);

// The fewest file bytes that can hold `pixels` at most `pixels_per_byte`
// pixels a byte, with the first megapixel free: every format compresses a
// plain picture, and no small file should be refused for that.
int64_t min_bytes_at_ratio(int64_t pixels, int64_t pixels_per_byte);

// The decoders, each reading its input from the start. Each returns the
// picture, or none with the failure set.
bl_image* decode_png(decode_input& input, load_failure* failure);
bl_image* decode_jpeg(decode_input& input, load_failure* failure);
bl_image* decode_gif(decode_input& input, load_failure* failure);
bl_image* decode_webp(decode_input& input, load_failure* failure);
bl_image* decode_bmp(decode_input& input, load_failure* failure);
bl_image* decode_tga(decode_input& input, load_failure* failure);
bl_image* decode_pnm(decode_input& input, load_failure* failure);

// Picks the decoder from the input's first bytes; formats not recognised are
// refused as unsupported. The input is left at an unspecified position.
bl_image* decode_image(decode_input& input, load_failure* failure);

// The orientation (1 ... 8) an EXIF block (the APP1 payload after "Exif\0\0")
// records for the picture; 1 when it records none or cannot be read.
int exif_orientation(const uint8_t* tiff, size_t length);

#endif
