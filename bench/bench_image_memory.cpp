// Peak memory of bl_image_load on cap-size files of every format, and on
// small files that declare cap-size pictures. Each load runs in a child
// process whose peak resident size is reset first, so the figure is what the
// load itself added. Prints a table; exits 1 when a load passes its bound.
//
//   bench_image_memory [FOLDER [NAME-PART]]   (scratch folder, default: the system's
//   temporary folder; only the cases whose name contains NAME-PART)
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>
#include <webp/encode.h>

#include "brightloom.h"
#include "image/image_io.h"

namespace {

const int64_t MiB = 1 << 20;
// The bound the header states: the picture, a few rows, a constant.
const int64_t ROWS_ALLOWED = 16, CONSTANT_ALLOWED = 16 * MiB;

struct peak_result {
    bool loaded = false;
    int64_t extra = 0;  // bytes the load added to the peak resident size
    double seconds = 0;
};

int64_t status_kib(const char* field) {
    FILE* f = fopen("/proc/self/status", "r");
    char line[256];
    int64_t value = -1;
    while (f && fgets(line, sizeof line, f))
        if (strncmp(line, field, strlen(field)) == 0) value = atoll(line + strlen(field));
    if (f) fclose(f);
    return value;
}

peak_result measure_load(const std::string& path) {
    int fds[2];
    peak_result result;
    if (pipe(fds) != 0) return result;
    const pid_t child = fork();
    if (child == 0) {
        // Resets the peak resident size to the current one.
        int clear = open("/proc/self/clear_refs", O_WRONLY);
        if (clear >= 0) {
            if (write(clear, "5", 1) != 1) _exit(2);
            close(clear);
        }
        const int64_t before = status_kib("VmRSS:");
        timespec t0, t1;
        clock_gettime(CLOCK_MONOTONIC, &t0);
        bl_image* image = bl_image_load(path.c_str());
        clock_gettime(CLOCK_MONOTONIC, &t1);
        peak_result r;
        r.loaded = image != nullptr;
        r.extra = (status_kib("VmHWM:") - before) * 1024;
        r.seconds = (t1.tv_sec - t0.tv_sec) + (t1.tv_nsec - t0.tv_nsec) / 1e9;
        bl_image_free(image);
        if (write(fds[1], &r, sizeof r) != sizeof r) _exit(2);
        _exit(0);
    }
    close(fds[1]);
    if (read(fds[0], &result, sizeof result) != sizeof result) result = peak_result();
    close(fds[0]);
    waitpid(child, nullptr, 0);
    return result;
}

// ------------------------------------------------------------ file writers
// Plain pictures (one colour): the decoder writes every pixel all the same,
// and they are quick to make at this size.

void write_png(const std::string& path, int w, int h, int depth, int colour) {
    FILE* f = fopen(path.c_str(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_IHDR(png, info, w, h, depth, colour, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 1);
    png_set_filter(png, 0, PNG_FILTER_NONE);
    png_write_info(png, info);
    std::vector<uint8_t> row(static_cast<size_t>(w) * 8, 90);
    for (int y = 0; y < h; ++y) png_write_row(png, row.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    fclose(f);
}

void write_jpeg(const std::string& path, int w, int h, bool progressive) {
    FILE* f = fopen(path.c_str(), "wb");
    jpeg_compress_struct c;
    jpeg_error_mgr errors;
    c.err = jpeg_std_error(&errors);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = w;
    c.image_height = h;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 90, TRUE);
    if (progressive) jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row(static_cast<size_t>(w) * 3, 90);
    JSAMPROW rows[1] = {row.data()};
    while (c.next_scanline < c.image_height) jpeg_write_scanlines(&c, rows, 1);
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    fclose(f);
}

void write_gif(const std::string& path, int w, int h) {
    int error = 0;
    GifFileType* gif = EGifOpenFileName(path.c_str(), false, &error);
    GifColorType colours[2] = {{0, 0, 0}, {200, 100, 50}};
    ColorMapObject* map = GifMakeMapObject(2, colours);
    EGifPutScreenDesc(gif, w, h, 1, 0, map);
    EGifPutImageDesc(gif, 0, 0, w, h, false, nullptr);
    std::vector<GifPixelType> row(static_cast<size_t>(w), 1);
    for (int y = 0; y < h; ++y) EGifPutLine(gif, row.data(), w);
    GifFreeMapObject(map);
    EGifCloseFile(gif, &error);
}

void write_webp(const std::string& path, int w, int h, bool lossless) {
    // Lossless: noise, since a plain picture compresses past the ratio the
    // loader allows; lossy: plain.
    std::vector<uint8_t> pixels(static_cast<size_t>(w) * h * 3, 90);
    uint32_t state = 1;
    if (lossless)
        for (uint8_t& p : pixels) p = static_cast<uint8_t>((state = state * 1664525u + 1013904223u) >> 24);
    uint8_t* out = nullptr;
    const size_t size = lossless ? WebPEncodeLosslessRGB(pixels.data(), w, h, w * 3, &out)
                                 : WebPEncodeRGB(pixels.data(), w, h, w * 3, 50, &out);
    FILE* f = fopen(path.c_str(), "wb");
    fwrite(out, 1, size, f);
    fclose(f);
    WebPFree(out);
}

void put_le(std::string& s, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) s.push_back(static_cast<char>(v >> (8 * i)));
}

// Uncompressed formats: a header, then the same row again and again.
void write_rows(const std::string& path, const std::string& header, size_t row_bytes, int rows) {
    FILE* f = fopen(path.c_str(), "wb");
    fwrite(header.data(), 1, header.size(), f);
    std::vector<uint8_t> row(row_bytes, 90);
    for (int y = 0; y < rows; ++y) fwrite(row.data(), 1, row.size(), f);
    fclose(f);
}

void write_bmp(const std::string& path, int w, int h) {
    const uint32_t stride = (static_cast<uint32_t>(w) * 3 + 3) & ~3u;
    std::string s = "BM";
    put_le(s, 54 + stride * h, 4);
    put_le(s, 0, 4);
    put_le(s, 54, 4);
    put_le(s, 40, 4);
    put_le(s, w, 4);
    put_le(s, h, 4);
    put_le(s, 1, 2);
    put_le(s, 24, 2);
    for (int i = 0; i < 6; ++i) put_le(s, 0, 4);
    write_rows(path, s, stride, h);
}

std::string tga_header(int w, int h, int type, int bits) {
    std::string s(2, '\0');
    s.push_back(static_cast<char>(type));
    s.append(9, '\0');
    put_le(s, w, 2);
    put_le(s, h, 2);
    s.push_back(static_cast<char>(bits));
    s.push_back(0);
    return s;
}

// Run-length TGA: every packet a run of 128 pixels.
void write_tga_rle(const std::string& path, int w, int h) {
    const int64_t packets = (static_cast<int64_t>(w) * h + 127) / 128;
    std::string packet = "\xff";
    packet += std::string("\x5a\x5a\x5a\x5a", 4);
    FILE* f = fopen(path.c_str(), "wb");
    const std::string header = tga_header(w, h, 10, 32);
    fwrite(header.data(), 1, header.size(), f);
    std::string block;
    for (int i = 0; i < 4096; ++i) block += packet;
    for (int64_t p = 0; p < packets; p += 4096)
        fwrite(block.data(), 1, packet.size() * static_cast<size_t>(std::min<int64_t>(4096, packets - p)), f);
    fclose(f);
}

struct bench_case {
    const char* name;
    int width, height;
    std::function<void(const std::string&)> write;
    int64_t extra_allowance;  // beyond the stated bound, for the documented exceptions
};

}  // namespace

int main(int argc, char** argv) {
    const std::string folder = argc > 1 ? argv[1] : (getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp");
    const std::string path = folder + "/bl_bench_image_memory.tmp";
    // Just under the limit of 2^28 pixels.
    const int W = 16384, H = 16383, WEBP = 16383;
    const int64_t cap_pixels = static_cast<int64_t>(W) * H;
    std::vector<bench_case> cases = {
        {"png 8-bit RGB", W, H, [&](const std::string& p) { write_png(p, W, H, 8, PNG_COLOR_TYPE_RGB); }, 0},
        {"png 16-bit RGBA", W, H, [&](const std::string& p) { write_png(p, W, H, 16, PNG_COLOR_TYPE_RGBA); }, 0},
        {"png 1-bit grey", W, H, [&](const std::string& p) { write_png(p, W, H, 1, PNG_COLOR_TYPE_GRAY); }, 0},
        {"jpeg baseline", W, H, [&](const std::string& p) { write_jpeg(p, W, H, false); }, 0},
        // Progressive JPEG keeps every coefficient until the last scan:
        // 2 bytes a sample, 4:2:0 here.
        {"jpeg progressive", 8192, 8192, [&](const std::string& p) { write_jpeg(p, 8192, 8192, true); },
         int64_t(8192) * 8192 * 3},
        {"gif", W, H, [&](const std::string& p) { write_gif(p, W, H); }, 0},
        {"webp lossy", WEBP, WEBP, [&](const std::string& p) { write_webp(p, WEBP, WEBP, false); }, 0},
        // Lossless WebP is decoded from the whole file in memory into a full
        // 4-byte-a-pixel picture first (noise: a file of 3 bytes a pixel).
        {"webp lossless", 2048, 2048, [&](const std::string& p) { write_webp(p, 2048, 2048, true); },
         int64_t(2048) * 2048 * 8},
        {"bmp 24-bit", W, H, [&](const std::string& p) { write_bmp(p, W, H); }, 0},
        {"tga 32-bit", W, H, [&](const std::string& p) { write_rows(p, tga_header(W, H, 2, 32), size_t(W) * 4, H); }, 0},
        {"tga 32-bit runs", W, H, [&](const std::string& p) { write_tga_rle(p, W, H); }, 0},
        {"pnm 16-bit grey", W, H,
         [&](const std::string& p) { write_rows(p, "P5\n16384 16383\n65535\n", size_t(W) * 2, H); }, 0},
    };
    printf("%-18s %11s %10s %9s %9s %8s %7s  %s\n", "file", "pixels", "file MiB", "peak MiB", "bound MiB",
           "B/pixel", "seconds", "");
    bool all_within = true;
    const std::string only = argc > 2 ? argv[2] : "";
    for (const bench_case& c : cases) {
        if (std::string(c.name).find(only) == std::string::npos) continue;
        c.write(path);
        FILE* f = fopen(path.c_str(), "rb");
        fseek(f, 0, SEEK_END);
        const double file_mib = static_cast<double>(ftell(f)) / MiB;
        fclose(f);
        const peak_result r = measure_load(path);
        unlink(path.c_str());
        const int64_t pixels = static_cast<int64_t>(c.width) * c.height;
        const int64_t bound = 3 * pixels + ROWS_ALLOWED * int64_t(c.width) * 8 + CONSTANT_ALLOWED + c.extra_allowance;
        const bool within = r.loaded && r.extra <= bound;
        all_within = all_within && within;
        printf("%-18s %11lld %10.1f %9.1f %9.1f %8.2f %7.2f  %s\n", c.name, static_cast<long long>(pixels), file_mib,
               static_cast<double>(r.extra) / MiB, static_cast<double>(bound) / MiB,
               static_cast<double>(r.extra) / pixels, r.seconds,
               !r.loaded ? "NOT LOADED" : within ? "ok" : "OVER");
        fflush(stdout);
    }
    // Small files declaring pictures just under the cap: refused, at no cost.
    std::string gif = std::string("GIF89a") + std::string("\x00\x40\xff\x3f\x80\x00\x00", 7) +
                      std::string("\x00\x00\x00\xff\xff\xff\x2c\x00\x00\x00\x00\x01\x00\x01\x00\x00", 16) +
                      std::string("\x02\x02\x4c\x01\x00\x3b", 6);
    std::string tga = tga_header(16000, 16000, 2, 24) + std::string(918, 'x');
    const struct {
        const char* name;
        std::string bytes;
    } small[] = {
        {"gif screen", gif},
        {"hdr header", "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 16383 +X 16384\n"},
        {"psd header", std::string("8BPS\x00\x01\x00\x00\x00\x00\x00\x00\x00\x03\x00\x00\x3f\xff\x00\x00\x3f\xff"
                                   "\x00\x08\x00\x03", 26) + std::string(42, '\0')},
        {"tga header", tga},
    };
    printf("\n%-18s %10s %9s %7s  %s\n", "small file", "bytes", "peak KiB", "seconds", "");
    for (const auto& f : small) {
        FILE* out = fopen(path.c_str(), "wb");
        fwrite(f.bytes.data(), 1, f.bytes.size(), out);
        fclose(out);
        const peak_result r = measure_load(path);
        unlink(path.c_str());
        const bool cheap = !r.loaded && r.extra < MiB;
        all_within = all_within && cheap;
        printf("%-18s %10zu %9.0f %7.3f  %s\n", f.name, f.bytes.size(), static_cast<double>(r.extra) / 1024,
               r.seconds, r.loaded ? "LOADED" : cheap ? "refused" : "refused, COSTLY");
    }
    printf("(cap: %lld pixels; bound: 3 B/pixel + %lld rows + %lld MiB, plus the noted exceptions)\n",
           static_cast<long long>(cap_pixels), static_cast<long long>(ROWS_ALLOWED),
           static_cast<long long>(CONSTANT_ALLOWED / MiB));
    return all_within ? 0 : 1;
}
