// GIF through giflib: the first frame, line by line, on a black screen.
#include <gif_lib.h>

#include <memory>
#include <vector>

#include "image/image_decode.h"

// LZW's best case: once its table is full, every 12-bit code repeats a
// 4096-pixel string.
static const int64_t LZW_MAX_PIXELS_PER_BYTE = 4096 * 8 / 12;

static const int GRAPHICS_CONTROL = 0xF9;

namespace {

struct gif_closer {
    void operator()(GifFileType* gif) const { DGifCloseFile(gif, nullptr); }
};
using gif_ptr = std::unique_ptr<GifFileType, gif_closer>;

int read_from_input(GifFileType* gif, GifByteType* buffer, int length) {
    if (length <= 0) return 0;
    return static_cast<int>(static_cast<decode_input*>(gif->UserData)->read(buffer, static_cast<size_t>(length)));
}

// The transparent colour a graphic control block names; -1 for none.
int transparent_index(const GifByteType* block, int current) {
    if (block && block[0] >= 4 && (block[1] & 1)) return block[4];
    return current;
}

// Skips extensions up to the first image, remembering its transparent
// colour. False at the file's end or on damage.
bool find_first_frame(GifFileType* gif, int* transparent) {
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif, &type) != GIF_OK) return false;
        if (type == IMAGE_DESC_RECORD_TYPE) return DGifGetImageDesc(gif) == GIF_OK;
        if (type != EXTENSION_RECORD_TYPE) return false;
        int code = 0;
        GifByteType* block = nullptr;
        if (DGifGetExtension(gif, &code, &block) != GIF_OK) return false;
        if (code == GRAPHICS_CONTROL) *transparent = transparent_index(block, *transparent);
        while (block)
            if (DGifGetExtensionNext(gif, &block) != GIF_OK) return false;
    }
}

// The rows of an interlaced frame arrive in four passes.
std::vector<int> frame_row_order(int height, bool interlaced) {
    std::vector<int> order;
    order.reserve(static_cast<size_t>(height));
    if (!interlaced) {
        for (int y = 0; y < height; ++y) order.push_back(y);
        return order;
    }
    const int starts[4] = {0, 4, 2, 1}, steps[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
        for (int y = starts[pass]; y < height; y += steps[pass]) order.push_back(y);
    return order;
}

// Draws one frame line; the transparent colour and indices past the colour
// table leave the screen's black.
void draw_line(const GifPixelType* line, int width, const ColorMapObject* colours, int transparent,
               uint8_t* out) {
    for (int x = 0; x < width; ++x, out += 3) {
        const int index = line[x];
        if (index == transparent || index >= colours->ColorCount) continue;
        const GifColorType& c = colours->Colors[index];
        out[0] = c.Red, out[1] = c.Green, out[2] = c.Blue;
    }
}

bool draw_first_frame(GifFileType* gif, const decode_input& input, row_sink& sink) {
    int transparent = -1;
    if (!find_first_frame(gif, &transparent)) return false;
    // The screen holds every frame, so its declared size is judged before
    // any frame's pixels are read. A file that ends before its first frame
    // is damaged whatever it declares, and is answered so.
    if (!header_size_allowed(input, gif->SWidth, gif->SHeight, &sink.failure)) return false;
    const GifImageDesc& frame = gif->Image;
    const ColorMapObject* colours = frame.ColorMap ? frame.ColorMap : gif->SColorMap;
    const int64_t screen_pixels = static_cast<int64_t>(gif->SWidth) * gif->SHeight;
    // A frame must lie on the screen and have a colour table to draw with.
    if (!colours || frame.Width <= 0 || frame.Height <= 0 || frame.Left < 0 || frame.Top < 0 ||
        frame.Left + frame.Width > gif->SWidth || frame.Top + frame.Height > gif->SHeight)
        return false;
    if (!sink.begin(gif->SWidth, gif->SHeight, input,
                    min_bytes_at_ratio(screen_pixels, LZW_MAX_PIXELS_PER_BYTE)))
        return false;
    std::vector<GifPixelType> line(static_cast<size_t>(frame.Width));
    for (int y : frame_row_order(frame.Height, frame.Interlace)) {
        if (DGifGetLine(gif, line.data(), frame.Width) != GIF_OK) return false;
        draw_line(line.data(), frame.Width, colours, transparent,
                  sink.row(frame.Top + y) + static_cast<size_t>(frame.Left) * 3);
    }
    return true;
}

}  // namespace

bl_image* decode_gif(decode_input& input, load_failure* failure) {
    int error = 0;
    gif_ptr gif(DGifOpen(&input, read_from_input, &error));
    row_sink sink;
    if (!gif || !draw_first_frame(gif.get(), input, sink)) {
        *failure = gif || error != D_GIF_ERR_NOT_ENOUGH_MEM ? sink.failure : load_failure::out_of_memory;
        return nullptr;
    }
    return sink.release();
}
