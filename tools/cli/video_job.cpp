#include "video_job.h"

#include <errno.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "child_process.h"
#include "video_frame_files.h"
#include "video_frame_stream.h"
#include "video_temp_files.h"

namespace {

// Every file a job may leave in its temporary directory.
const char* const TEMP_FILES[] = {"frame.ppm",     "frame.bmp",   "decoder.log",
                                  "encoder.log",   "reference.png", "reference.log"};
const int TEMP_FILE_COUNT = sizeof TEMP_FILES / sizeof TEMP_FILES[0];

// What hard_stop() removes, kept in fixed buffers it can read from a signal
// handler. One job runs per process.
struct HardStopState {
    char temp_dir[PATH_MAX];
    char partials[2][PATH_MAX];
    volatile pid_t children[3];
    volatile sig_atomic_t armed;
};
HardStopState g_hard_stop;

void note_child(int slot, pid_t pid) { g_hard_stop.children[slot] = pid; }

enum ChildSlot { DECODER, ENCODER, HELPER };

// For hard_stop(): async-signal-safe calls only.
void end_children() {
    for (volatile pid_t& pid : g_hard_stop.children)
        if (pid > 0) kill(pid, SIGKILL);
    // An encoder killed while it opens the partial output would create it
    // again after it is unlinked: it must be gone first.
    for (volatile pid_t& pid : g_hard_stop.children)
        if (pid > 0)
            while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
}

void remove_temp_dir() {
    char path[PATH_MAX];
    for (int i = 0; i < TEMP_FILE_COUNT; ++i) {
        // strcpy/strcat are async-signal-safe in practice; snprintf is not.
        size_t dir_length = strlen(g_hard_stop.temp_dir), name_length = strlen(TEMP_FILES[i]);
        if (dir_length + 1 + name_length >= sizeof path) continue;
        memcpy(path, g_hard_stop.temp_dir, dir_length);
        path[dir_length] = '/';
        memcpy(path + dir_length + 1, TEMP_FILES[i], name_length + 1);
        unlink(path);
    }
    rmdir(g_hard_stop.temp_dir);
}

std::string last_line_of(const std::string& path) {
    std::ifstream file(path);
    std::string line, last;
    while (std::getline(file, line))
        if (!line.empty()) last = line;
    return last;
}

}  // namespace

void VideoJob::hard_stop() {
    if (!g_hard_stop.armed) return;
    int saved_errno = errno;
    end_children();
    for (const char* partial : g_hard_stop.partials)
        if (partial[0]) unlink(partial);
    if (g_hard_stop.temp_dir[0]) remove_temp_dir();
    errno = saved_errno;
}

VideoJob::VideoJob(std::string ffmpeg, std::string input, std::string output,
                   EncodeOptions options, VideoInfo info)
    : ffmpeg_(std::move(ffmpeg)), input_(std::move(input)), output_(std::move(output)),
      options_(std::move(options)), info_(std::move(info)) {
    memset(&g_hard_stop, 0, sizeof g_hard_stop);
    g_hard_stop.armed = 1;
}

VideoJob::~VideoJob() { clean_up(); }

void VideoJob::clean_up() {
    writer_.reset();
    encoder_.reset();  // kills and waits for a child still running
    decoder_.reset();
    for (std::string* partial : {&partial_, &tagged_}) {
        if (!partial->empty()) unlink(partial->c_str());
        partial->clear();
    }
    if (!temp_dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(temp_dir_, ignored);
        temp_dir_.clear();
    }
    g_hard_stop.armed = 0;
}

int32_t VideoJob::total() const {
    // Once the input has ended, what was decoded is the total.
    if (input_ended_) return done_;
    int64_t total = info_.total();
    return total > INT32_MAX ? INT32_MAX : static_cast<int32_t>(total);
}

std::string VideoJob::temp_path(const char* name) const { return temp_dir_ + "/" + name; }

bool VideoJob::prepare(std::string& error) {
    std::error_code code;
    std::string pattern = (std::filesystem::temp_directory_path(code) / "brightloom-video-XXXXXX").string();
    if (code) pattern = "/tmp/brightloom-video-XXXXXX";
    temp_dir_ = create_unique(pattern, TempKind::Directory, g_hard_stop.temp_dir);
    if (temp_dir_.empty()) {
        error = "Cannot create a temporary directory: " + pattern + " (" + strerror(errno) + ")";
        return false;
    }
    return true;
}

bool VideoJob::extract_frame(int number, std::string& image, std::string& error) {
    image = temp_path("reference.png");
    ChildProcess extractor;
    ChildProcess::Streams streams;
    streams.error_file = temp_path("reference.log");
    if (!extractor.start(frame_extract_args(ffmpeg_, input_, number, image), streams, error))
        return false;
    note_child(HELPER, extractor.pid());
    int code = extractor.wait();
    note_child(HELPER, 0);
    if (code != 0 || !std::filesystem::exists(image)) {
        error = "No frame " + std::to_string(number) + " in: " + input_;
        return false;
    }
    return true;
}

std::vector<uint8_t> VideoJob::process_frame(const FrameOperation& operation,
                                             const RawFrame& frame, int width, int height) {
    const std::string in = temp_path("frame.ppm"), out = temp_path("frame.bmp");
    int scale = options_.scale;
    std::vector<uint8_t> result;
    int out_width = 0, out_height = 0;
    if (write_ppm(in, width, height, frame.rgb) && operation(in, out) &&
        read_bmp(out, out_width, out_height, result) && out_width == width * scale &&
        out_height == height * scale)
        return result;
    // A frame the library cannot process goes through as it came.
    ++failed_;
    return enlarge(frame.rgb, width, height, scale);
}

// A new file beside OUTPUT (".NAME.XXXXXX.part"), so the final rename stays
// on one file system.
bool VideoJob::make_partial(int slot, std::string& path, std::string& error) {
    std::filesystem::path target = std::filesystem::absolute(output_);
    std::string pattern =
        (target.parent_path() / ("." + target.filename().string() + ".XXXXXX.part")).string();
    path = create_unique(pattern, TempKind::File, g_hard_stop.partials[slot]);
    if (path.empty()) {
        error = "Cannot write output: " + output_ + " (" + strerror(errno) + ")";
        return false;
    }
    return true;
}

bool VideoJob::start_encoder(int width, int height, uint64_t timestamp_scale, std::string& error) {
    if (!make_partial(0, partial_, error)) return false;
    encoder_.reset(new ChildProcess());
    ChildProcess::Streams streams;
    streams.pipe_input = true;
    streams.error_file = temp_path("encoder.log");
    if (!encoder_->start(encoder_args(ffmpeg_, options_, info_, width, height, input_, partial_),
                         streams, error))
        return false;
    note_child(ENCODER, encoder_->pid());
    writer_.reset(new FrameStreamWriter(encoder_->input_fd()));
    if (!writer_->start(width, height, timestamp_scale)) {
        error = encoder_failure();
        return false;
    }
    return true;
}

std::string VideoJob::encoder_failure() {
    encoder_->close_input();
    encoder_->wait();
    std::string reason = last_line_of(temp_path("encoder.log"));
    return "Cannot write output: " + output_ + (reason.empty() ? "" : " (" + reason + ")");
}

VideoJob::Outcome VideoJob::run(const FrameOperation& operation, std::string& error) {
    decoder_.reset(new ChildProcess());
    ChildProcess::Streams streams;
    streams.pipe_output = true;
    streams.error_file = temp_path("decoder.log");
    if (!decoder_->start(decoder_args(ffmpeg_, input_), streams, error)) return Outcome::Failed;
    note_child(DECODER, decoder_->pid());
    FrameStreamReader reader(decoder_->output_fd());
    RawFrame frame;
    for (;;) {
        if (cancelled_) return Outcome::Cancelled;
        FrameStreamReader::Result result = reader.next(frame);
        if (result == FrameStreamReader::Result::End) break;
        int width = reader.width(), height = reader.height();
        if (result == FrameStreamReader::Result::Damaged || width <= 0 || height <= 0 ||
            frame.rgb.size() != size_t(width) * size_t(height) * 3) {
            error = "Not a video: " + input_;
            return Outcome::Failed;
        }
        std::vector<uint8_t> processed = process_frame(operation, frame, width, height);
        if (!encoder_ && !start_encoder(width * options_.scale, height * options_.scale,
                                        reader.timestamp_scale(), error))
            return Outcome::Failed;
        if (!writer_->write(frame.timestamp, processed)) {
            error = encoder_failure();
            return Outcome::Failed;
        }
        ++done_;
    }
    input_ended_ = true;
    note_child(DECODER, 0);
    int decoder_code = decoder_->wait();
    if (done_ == 0) {
        error = "No frames in: " + input_;
        return Outcome::Failed;
    }
    if (cancelled_) return Outcome::Cancelled;
    encoder_->close_input();
    note_child(ENCODER, 0);
    if (encoder_->wait() != 0) {
        error = encoder_failure();
        return Outcome::Failed;
    }
    if (decoder_code != 0 || (info_.frame_count > 0 && done_ < info_.frame_count)) {
        error = "Input ended early after " + std::to_string(done_) + " frames: " + input_;
        return Outcome::Failed;
    }
    if (stores_rotation(options_, info_) && !tag_rotation(error)) return Outcome::Failed;
    int slot = tagged_.empty() ? 0 : 1;
    std::string& finished = slot == 0 ? partial_ : tagged_;
    if (rename(finished.c_str(), output_.c_str()) != 0) {
        error = "Cannot write output: " + output_ + " (" + strerror(errno) + ")";
        return Outcome::Failed;
    }
    finished.clear();
    g_hard_stop.partials[slot][0] = '\0';
    return Outcome::Complete;
}

bool VideoJob::tag_rotation(std::string& error) {
    if (!make_partial(1, tagged_, error)) return false;
    ChildProcess tagger;
    ChildProcess::Streams streams;
    streams.error_file = temp_path("encoder.log");
    if (!tagger.start(rotation_tag_args(ffmpeg_, options_, info_, partial_, tagged_), streams, error))
        return false;
    note_child(HELPER, tagger.pid());
    int code = tagger.wait();
    note_child(HELPER, 0);
    if (code != 0) {
        std::string reason = last_line_of(temp_path("encoder.log"));
        error = "Cannot write output: " + output_ + (reason.empty() ? "" : " (" + reason + ")");
        return false;
    }
    return true;
}
