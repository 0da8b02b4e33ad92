#include "image_size.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "brightloom.h"
#include "os.h"

namespace {

// Bytes read by position: a string, or a regular file read a window at a
// time, so that a size found after any length of metadata costs a few small
// reads rather than the whole file.
class Header {
public:
    explicit Header(const std::string& bytes) : text_(&bytes), size_(bytes.size()) {}
    Header(std::ifstream& file, uint64_t size) : file_(&file), size_(size) {}
    bool has(uint64_t at, uint64_t count) const { return at <= size_ && count <= size_ - at; }
    bool starts_with(const char* magic) const { return text_at(0, magic); }
    bool text_at(uint64_t at, const char* text) const {
        const size_t length = std::strlen(text);
        if (!has(at, length)) return false;
        for (size_t i = 0; i < length; ++i)
            if (byte(at + i) != static_cast<unsigned char>(text[i])) return false;
        return true;
    }
    // The byte at `at`, which has() vouched for; 0 when the file cannot be read there.
    uint32_t byte(uint64_t at) const {
        if (text_) return static_cast<unsigned char>((*text_)[at]);
        if (at < window_start_ || at - window_start_ >= window_.size()) fill_window(at);
        return at - window_start_ < window_.size() ? static_cast<unsigned char>(window_[at - window_start_]) : 0;
    }
    uint32_t be16(uint64_t at) const { return byte(at) << 8 | byte(at + 1); }
    uint32_t be32(uint64_t at) const { return be16(at) << 16 | be16(at + 2); }
    uint32_t le16(uint64_t at) const { return byte(at) | byte(at + 1) << 8; }
    uint32_t le24(uint64_t at) const { return le16(at) | byte(at + 2) << 16; }
    uint32_t le32(uint64_t at) const { return le16(at) | le16(at + 2) << 16; }
    uint64_t size() const { return size_; }

private:
    static const size_t WINDOW_BYTES = 64 << 10;

    void fill_window(uint64_t at) const {
        window_.assign(WINDOW_BYTES, '\0');
        window_start_ = at;
        file_->clear();
        file_->seekg(static_cast<std::streamoff>(at));
        file_->read(&window_[0], static_cast<std::streamsize>(window_.size()));
        window_.resize(file_->gcount() > 0 ? static_cast<size_t>(file_->gcount()) : 0);
    }

    const std::string* text_ = nullptr;
    std::ifstream* file_ = nullptr;
    uint64_t size_ = 0;
    mutable std::string window_;
    mutable uint64_t window_start_ = 0;
};

bool done(ImageSize& size, int64_t width, int64_t height) {
    size = {width, height};
    return width > 0 && height > 0;
}

bool png_size(const Header& h, ImageSize& size) {
    // The first chunk of every PNG is IHDR.
    if (!h.has(0, 24) || !h.text_at(12, "IHDR")) return false;
    return done(size, h.be32(16), h.be32(20));
}

bool jpeg_size(const Header& h, ImageSize& size) {
    for (uint64_t at = 2; h.has(at, 4);) {
        const uint32_t marker = h.byte(at + 1);
        // Stray bytes between segments, fill bytes and stuffed zeros are
        // stepped over, as the decoder steps over them.
        if (h.byte(at) != 0xFF || marker == 0xFF) {
            ++at;
            continue;
        }
        if ((marker >= 0xD0 && marker <= 0xD9) || marker <= 0x01) {  // no length
            at += 2;
            continue;
        }
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 &&
                           marker != 0xC8 && marker != 0xCC;
        if (frame) return h.has(at, 9) && done(size, h.be16(at + 7), h.be16(at + 5));
        if (marker == 0xDA) return false;  // scan data before any frame header
        at += 2 + h.be16(at + 2);
    }
    return false;
}

bool webp_size(const Header& h, ImageSize& size) {
    // Each chunk kind ends its size fields at its own offset: 25 bytes for
    // lossless, 30 for the others.
    if (!h.has(0, 25) || !h.text_at(8, "WEBP")) return false;
    if (h.text_at(12, "VP8X")) return h.has(0, 30) && done(size, h.le24(24) + 1, h.le24(27) + 1);
    if (h.text_at(12, "VP8L")) {
        const uint32_t bits = h.le32(21);
        return h.byte(20) == 0x2F && done(size, (bits & 0x3FFF) + 1, (bits >> 14 & 0x3FFF) + 1);
    }
    if (h.text_at(12, "VP8 "))
        return h.has(0, 30) && h.text_at(23, "\x9d\x01\x2a") &&
               done(size, h.le16(26) & 0x3FFF, h.le16(28) & 0x3FFF);
    return false;
}

bool bmp_size(const Header& h, ImageSize& size) {
    if (!h.has(0, 26)) return false;
    if (h.le32(14) == 12) return done(size, h.le16(18), h.le16(20));
    // Rows stored top-down have a negative height.
    const int64_t height = static_cast<int32_t>(h.le32(22));
    return done(size, static_cast<int32_t>(h.le32(18)), height < 0 ? -height : height);
}

bool is_pnm_space(uint32_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// "P5"/"P6", then width and height as decimal text between blanks and
// comments.
bool pnm_size(const Header& h, ImageSize& size) {
    int64_t values[2] = {0, 0};
    uint64_t at = 2;
    for (int64_t& value : values) {
        while (h.has(at, 1) && (is_pnm_space(h.byte(at)) || h.byte(at) == '#')) {
            if (h.byte(at) == '#')
                while (h.has(at, 1) && h.byte(at) != '\n') ++at;
            else
                ++at;
        }
        size_t digits = 0;
        for (; h.has(at, 1) && h.byte(at) >= '0' && h.byte(at) <= '9'; ++at)
            if (++digits <= 9) value = value * 10 + (h.byte(at) - '0');
        if (digits == 0 || digits > 9) return false;
    }
    return done(size, values[0], values[1]);
}

// TGA has no signature: a header whose fields all hold values the format
// knows is taken for one.
bool tga_size(const Header& h, ImageSize& size) {
    if (!h.has(0, 18) || h.byte(1) > 1) return false;
    const uint32_t type = h.byte(2), depth = h.byte(16);
    const bool known_type = (type >= 1 && type <= 3) || (type >= 9 && type <= 11);
    const bool known_depth = depth == 8 || depth == 15 || depth == 16 || depth == 24 || depth == 32;
    return known_type && known_depth && done(size, h.le16(12), h.le16(14));
}

bool declared_size(const Header& h, ImageSize& size) {
    if (h.starts_with("\x89PNG\r\n\x1a\n")) return png_size(h, size);
    if (h.starts_with("\xFF\xD8")) return jpeg_size(h, size);
    if (h.starts_with("GIF87a") || h.starts_with("GIF89a"))
        return h.has(0, 10) && done(size, h.le16(6), h.le16(8));
    if (h.starts_with("RIFF")) return webp_size(h, size);
    if (h.starts_with("BM")) return bmp_size(h, size);
    if (h.starts_with("P5") || h.starts_with("P6")) return pnm_size(h, size);
    return tga_size(h, size);
}

}  // namespace

bool declared_image_size(const std::string& bytes, ImageSize& size) {
    return declared_size(Header(bytes), size);
}

// The file is read where the parser looks: a JPEG's frame header may follow
// any length of metadata segments, which are stepped over unread, and a
// PNM's size any length of comments.
bool declared_file_image_size(const std::string& path, ImageSize& size) {
    std::error_code error;
    const std::filesystem::path file_path = os::path_from_utf8(path);
    if (!std::filesystem::is_regular_file(file_path, error)) return false;
    const uintmax_t length = std::filesystem::file_size(file_path, error);
    if (error) return false;
    std::ifstream file(file_path, std::ios::binary);
    if (!file) return false;
    return declared_size(Header(file, length), size);
}

bool upscale_passes_pixel_limit(const ImageSize& size, int scale, ImageSize* result) {
    const int64_t limit = BRIGHTLOOM_MAX_IMAGE_PIXELS;
    *result = {size.width * scale, size.height * scale};
    // A side alone over the limit is judged first, so the product below
    // cannot overflow.
    if (size.width > limit || size.height > limit) return true;
    return result->width * result->height > limit;
}
