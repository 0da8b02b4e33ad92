#include "video_frame_stream.h"

#include <string.h>
#include <unistd.h>

#include "brightloom.h"
#include "child_process.h"

namespace {

// Element ids of the few Matroska elements the frame streams use.
const uint64_t EBML = 0x1A45DFA3, DOC_TYPE = 0x4282, DOC_TYPE_VERSION = 0x4287,
               DOC_TYPE_READ_VERSION = 0x4285, SEGMENT = 0x18538067, INFO = 0x1549A966,
               TIMESTAMP_SCALE = 0x2AD7B1, TRACKS = 0x1654AE6B, TRACK_ENTRY = 0xAE,
               TRACK_NUMBER = 0xD7, TRACK_UID = 0x73C5, TRACK_TYPE = 0x83, CODEC_ID = 0x86,
               VIDEO = 0xE0, PIXEL_WIDTH = 0xB0, PIXEL_HEIGHT = 0xBA, COLOUR_SPACE = 0x2EB524,
               CLUSTER = 0x1F43B675, CLUSTER_TIMESTAMP = 0xE7, SIMPLE_BLOCK = 0xA3,
               BLOCK_GROUP = 0xA0, BLOCK = 0xA1;

// Containers whose children are read in line, as if the container were not there.
bool is_opened(uint64_t id) {
    return id == SEGMENT || id == INFO || id == TRACKS || id == TRACK_ENTRY || id == VIDEO ||
           id == CLUSTER || id == BLOCK_GROUP;
}

// Track number 1, relative time, flags: the four bytes before a block's frame.
const size_t BLOCK_HEADER = 4;
// Far beyond any frame the library takes; a larger element means a damaged stream.
const uint64_t LARGEST_ELEMENT = uint64_t(BRIGHTLOOM_MAX_IMAGE_PIXELS) * 3 + 64;

uint64_t read_uint(const std::vector<uint8_t>& payload) {
    uint64_t value = 0;
    for (size_t i = 0; i < payload.size() && i < 8; ++i) value = value << 8 | payload[i];
    return value;
}

void put_id(std::string& out, uint64_t id) {
    int bytes = id > 0xFFFFFF ? 4 : id > 0xFFFF ? 3 : id > 0xFF ? 2 : 1;
    for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>(id >> (8 * i) & 0xFF);
}

// Sizes always take 8 bytes: simple, and valid for any frame size.
void put_size(std::string& out, uint64_t size) {
    out += '\x01';
    for (int i = 6; i >= 0; --i) out += static_cast<char>(size >> (8 * i) & 0xFF);
}

std::string element(uint64_t id, const std::string& payload) {
    std::string out;
    put_id(out, id);
    put_size(out, payload.size());
    return out + payload;
}

std::string uint_element(uint64_t id, uint64_t value) {
    std::string payload;
    for (int i = 7; i >= 0; --i) payload += static_cast<char>(value >> (8 * i) & 0xFF);
    return element(id, payload);
}

}  // namespace

bool FrameStreamReader::read_bytes(void* data, size_t size) {
    uint8_t* out = static_cast<uint8_t*>(data);
    size_t buffered = buffer_.size() - buffer_pos_;
    size_t from_buffer = buffered < size ? buffered : size;
    if (from_buffer > 0) memcpy(out, buffer_.data() + buffer_pos_, from_buffer);
    buffer_pos_ += from_buffer;
    out += from_buffer;
    size -= from_buffer;
    if (size == 0) return true;
    // Large payloads (frames) go straight into place; small reads refill.
    if (size >= 65536) return read_exact(fd_, out, size);
    buffer_.resize(65536);
    buffer_pos_ = 0;
    ssize_t n = 0;
    size_t filled = 0;
    while (filled < size) {
        n = read(fd_, buffer_.data() + filled, buffer_.size() - filled);
        if (n <= 0) {
            buffer_.clear();
            return false;
        }
        filled += static_cast<size_t>(n);
    }
    buffer_.resize(filled);
    memcpy(out, buffer_.data(), size);
    buffer_pos_ = size;
    return true;
}

bool FrameStreamReader::read_vint(bool keep_marker, uint64_t& value, bool& unknown) {
    uint8_t first;
    if (!read_bytes(&first, 1)) return false;
    int length = 1;
    while (length <= 8 && !(first & (0x80 >> (length - 1)))) ++length;
    if (length > 8) return false;
    value = keep_marker ? first : first & (0xFF >> length);
    unknown = !keep_marker && value == static_cast<uint64_t>(0xFF >> length);
    uint8_t rest[8];
    if (!read_bytes(rest, static_cast<size_t>(length - 1))) return false;
    for (int i = 0; i < length - 1; ++i) {
        value = value << 8 | rest[i];
        unknown = unknown && rest[i] == 0xFF;
    }
    return true;
}

FrameStreamReader::Result FrameStreamReader::next(RawFrame& frame) {
    for (;;) {
        uint64_t id, size;
        bool unknown_id, unknown_size;
        if (!read_vint(true, id, unknown_id)) return Result::End;
        if (!read_vint(false, size, unknown_size)) return Result::End;
        if (is_opened(id)) continue;
        if (unknown_size || size > LARGEST_ELEMENT) return Result::Damaged;
        bool got_frame = false;
        if (!take(id, size, frame, got_frame)) return Result::End;
        if (got_frame) return Result::Frame;
    }
}

// Reads one element's payload and keeps what the frames need from it.
bool FrameStreamReader::take(uint64_t id, uint64_t size, RawFrame& frame, bool& got_frame) {
    if (id == SIMPLE_BLOCK || id == BLOCK) {
        uint8_t header[BLOCK_HEADER];
        if (size < BLOCK_HEADER || !read_bytes(header, BLOCK_HEADER)) return false;
        frame.rgb.resize(size - BLOCK_HEADER);
        if (!read_bytes(frame.rgb.data(), frame.rgb.size())) return false;
        int16_t relative = static_cast<int16_t>(header[1] << 8 | header[2]);
        frame.timestamp = cluster_time_ + relative;
        got_frame = true;
        return true;
    }
    std::vector<uint8_t> payload(size);
    if (!read_bytes(payload.data(), payload.size())) return false;
    if (id == TIMESTAMP_SCALE) timestamp_scale_ = read_uint(payload);
    if (id == PIXEL_WIDTH) width_ = static_cast<int>(read_uint(payload));
    if (id == PIXEL_HEIGHT) height_ = static_cast<int>(read_uint(payload));
    if (id == CLUSTER_TIMESTAMP) cluster_time_ = static_cast<int64_t>(read_uint(payload));
    return true;
}

bool FrameStreamWriter::start(int width, int height, uint64_t timestamp_scale) {
    std::string header = element(EBML, element(DOC_TYPE, "matroska") +
                                           uint_element(DOC_TYPE_VERSION, 4) +
                                           uint_element(DOC_TYPE_READ_VERSION, 2));
    put_id(header, SEGMENT);
    header += std::string("\x01\xff\xff\xff\xff\xff\xff\xff", 8);  // size unknown: streamed
    header += element(INFO, uint_element(TIMESTAMP_SCALE, timestamp_scale));
    std::string video = uint_element(PIXEL_WIDTH, static_cast<uint64_t>(width)) +
                        uint_element(PIXEL_HEIGHT, static_cast<uint64_t>(height)) +
                        element(COLOUR_SPACE, std::string("RGB\x18", 4));
    std::string track = uint_element(TRACK_NUMBER, 1) + uint_element(TRACK_UID, 1) +
                        uint_element(TRACK_TYPE, 1) + element(CODEC_ID, "V_UNCOMPRESSED") +
                        element(VIDEO, video);
    header += element(TRACKS, element(TRACK_ENTRY, track));
    return write_all(fd_, header.data(), header.size());
}

bool FrameStreamWriter::write(int64_t timestamp, const uint8_t* rgb, size_t size) {
    if (size > uint64_t(FRAME_STREAM_MAX_PIXELS) * 3) return false;
    std::string block_start;
    put_id(block_start, SIMPLE_BLOCK);
    put_size(block_start, size + BLOCK_HEADER);
    block_start += std::string("\x81\x00\x00\x80", BLOCK_HEADER);  // track 1, +0, key frame
    std::string cluster_start;
    std::string time = uint_element(CLUSTER_TIMESTAMP, static_cast<uint64_t>(timestamp < 0 ? 0 : timestamp));
    put_id(cluster_start, CLUSTER);
    put_size(cluster_start, time.size() + block_start.size() + size);
    cluster_start += time + block_start;
    return write_all(fd_, cluster_start.data(), cluster_start.size()) &&
           write_all(fd_, rgb, size);
}
