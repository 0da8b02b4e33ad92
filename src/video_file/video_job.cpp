#include "video_job.h"

#include <errno.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>

#include "child_process.h"
#include "frame_pipes.h"
#include "video_frame_stream.h"
#include "video_join.h"
#include "video_temp_files.h"

namespace {

// Every file a job may leave in its temporary directory.
const char* const TEMP_FILES[] = {"decoder.log", "encoder.log", "reference.png", "reference.log",
                                  "segments.txt", "join.log"};
const int TEMP_FILE_COUNT = sizeof TEMP_FILES / sizeof TEMP_FILES[0];

enum ChildSlot { DECODER, ENCODER, HELPER };

}  // namespace

// What hard_stop() removes for one job, kept in fixed buffers it can read
// from a signal handler.
struct HardStopState {
    char temp_dir[PATH_MAX];
    char partials[2][PATH_MAX];
    volatile pid_t children[3];
    volatile sig_atomic_t armed;
};

namespace {

// Jobs of several threads run side by side; a job beyond these runs without
// the hard stop's cover.
const int HARD_STOP_SLOTS = 16;
HardStopState g_hard_stop[HARD_STOP_SLOTS];
std::atomic<bool> g_slot_taken[HARD_STOP_SLOTS];

HardStopState* claim_hard_stop_slot() {
    for (int i = 0; i < HARD_STOP_SLOTS; ++i) {
        bool expected = false;
        if (g_slot_taken[i].compare_exchange_strong(expected, true)) {
            HardStopState* state = &g_hard_stop[i];
            state->armed = 0;
            state->temp_dir[0] = state->partials[0][0] = state->partials[1][0] = '\0';
            for (volatile pid_t& pid : state->children) pid = 0;
            state->armed = 1;
            return state;
        }
    }
    return nullptr;
}

void release_hard_stop_slot(HardStopState* state) {
    if (!state) return;
    state->armed = 0;
    g_slot_taken[state - g_hard_stop].store(false);
}

// A scratch slot for a job without one, so publishing never needs a check.
thread_local HardStopState t_uncovered;

// For hard_stop(): async-signal-safe calls only.
void end_children(HardStopState& state) {
    for (volatile pid_t& pid : state.children)
        if (pid > 0) kill(pid, SIGKILL);
    // An encoder killed while it opens the partial output would create it
    // again after it is unlinked: it must be gone first.
    for (volatile pid_t& pid : state.children)
        if (pid > 0)
            while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
}

void remove_temp_dir(const char* dir) {
    char path[PATH_MAX];
    for (int i = 0; i < TEMP_FILE_COUNT; ++i) {
        // strcpy/strcat are async-signal-safe in practice; snprintf is not.
        size_t dir_length = strlen(dir), name_length = strlen(TEMP_FILES[i]);
        if (dir_length + 1 + name_length >= sizeof path) continue;
        memcpy(path, dir, dir_length);
        path[dir_length] = '/';
        memcpy(path + dir_length + 1, TEMP_FILES[i], name_length + 1);
        unlink(path);
    }
    rmdir(dir);
}

// Nearest-neighbour enlargement, for a frame an upscale could not process.
std::vector<uint8_t> enlarge(const std::vector<uint8_t>& rgb, int width, int height, int scale) {
    if (scale == 1) return rgb;
    size_t out_width = size_t(width) * size_t(scale);
    std::vector<uint8_t> out(out_width * size_t(height) * size_t(scale) * 3);
    for (size_t y = 0; y < out.size() / (out_width * 3); ++y) {
        const uint8_t* row = rgb.data() + (y / size_t(scale)) * size_t(width) * 3;
        uint8_t* target = out.data() + y * out_width * 3;
        for (size_t x = 0; x < out_width; ++x)
            for (int c = 0; c < 3; ++c) target[x * 3 + c] = row[(x / size_t(scale)) * 3 + c];
    }
    return out;
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
    int saved_errno = errno;
    for (HardStopState& state : g_hard_stop) {
        if (!state.armed) continue;
        end_children(state);
        for (const char* partial : state.partials)
            if (partial[0]) unlink(partial);
        if (state.temp_dir[0]) remove_temp_dir(state.temp_dir);
    }
    errno = saved_errno;
}

VideoJob::VideoJob(std::string ffmpeg, std::string ffprobe, std::string input, std::string output,
                   EncodeOptions options, VideoInfo info, const volatile int32_t* cancel)
    : ffmpeg_(std::move(ffmpeg)), ffprobe_(std::move(ffprobe)), input_(std::move(input)),
      output_(std::move(output)),
      options_(std::move(options)), info_(std::move(info)), cancel_(cancel),
      stop_state_(claim_hard_stop_slot()) {}

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
    release_hard_stop_slot(stop_state_);
    stop_state_ = nullptr;
}

void VideoJob::note_child(int slot, pid_t pid) {
    if (stop_state_) stop_state_->children[slot] = pid;
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
    temp_dir_ = create_unique(pattern, TempKind::Directory, (stop_state_ ? *stop_state_ : t_uncovered).temp_dir);
    if (temp_dir_.empty()) {
        error = "Cannot create a temporary directory: " + pattern + " (" + strerror(errno) + ")";
        return false;
    }
    return true;
}

bool VideoJob::extract_frame(int number, brightloom_image* image, std::string& error) {
    const std::string path = temp_path("reference.png");
    ChildProcess extractor;
    ChildProcess::Streams streams;
    streams.error_file = temp_path("reference.log");
    if (!extractor.start(frame_extract_args(ffmpeg_, info_, input_, number, path), streams, error))
        return false;
    note_child(HELPER, extractor.pid());
    int code = extractor.wait();
    note_child(HELPER, 0);
    if (code != 0 || !std::filesystem::exists(path) ||
        brightloom_image_load(path.c_str(), image) != BRIGHTLOOM_OK) {
        error = "No frame " + std::to_string(number) + " in: " + input_;
        return false;
    }
    return true;
}

// The processed frame, or the frame as it came (enlarged for an upscale)
// when the operation fails on it.
std::vector<uint8_t> VideoJob::process_frame(const FrameOperation& operation, RawFrame& frame,
                                             int width, int height) {
    const int scale = options_.scale;
    brightloom_image in = {width, height, width * 3, frame.rgb.data()};
    brightloom_image out = {0, 0, 0, nullptr};
    std::vector<uint8_t> result;
    if (operation(in, &out) == BRIGHTLOOM_OK && out.width == width * scale &&
        out.height == height * scale) {
        const size_t row = size_t(out.width) * 3;
        result.resize(row * size_t(out.height));
        for (int y = 0; y < out.height; ++y)
            memcpy(result.data() + size_t(y) * row, out.pixels + size_t(y) * size_t(out.stride), row);
        brightloom_image_release(&out);
        return result;
    }
    brightloom_image_release(&out);
    ++failed_;
    return enlarge(frame.rgb, width, height, scale);
}

// A new file beside OUTPUT (".NAME.XXXXXX.part"), so the final rename stays
// on one file system.
bool VideoJob::make_partial(int slot, std::string& path, std::string& error) {
    std::filesystem::path target = std::filesystem::absolute(output_);
    std::string pattern =
        (target.parent_path() / ("." + target.filename().string() + ".XXXXXX.part")).string();
    path = create_unique(pattern, TempKind::File, (stop_state_ ? *stop_state_ : t_uncovered).partials[slot]);
    if (path.empty()) {
        error = "Cannot write output: " + output_ + " (" + strerror(errno) + ")";
        return false;
    }
    return true;
}

// An encoder that cannot be started answers as an unreadable input, as it
// always has; an output that cannot be made or taken, as unwritable.
brightloom_status VideoJob::start_encoder(int width, int height, uint64_t timestamp_scale,
                                          std::string& error) {
    if (!make_partial(0, partial_, error)) return BRIGHTLOOM_CANNOT_WRITE;
    encoder_.reset(new ChildProcess());
    ChildProcess::Streams streams;
    streams.pipe_input = true;
    streams.error_file = temp_path("encoder.log");
    if (!encoder_->start(encoder_args(ffmpeg_, options_, info_, width, height, input_, partial_),
                         streams, error))
        return BRIGHTLOOM_UNREADABLE_INPUT;
    note_child(ENCODER, encoder_->pid());
    writer_.reset(new FrameWriteBehind(encoder_->input_fd()));
    if (!writer_->start(width, height, timestamp_scale)) {
        error = encoder_failure();
        return BRIGHTLOOM_CANNOT_WRITE;
    }
    return BRIGHTLOOM_OK;
}

std::string VideoJob::encoder_failure() {
    encoder_->close_input();
    encoder_->wait();
    std::string reason = last_line_of(temp_path("encoder.log"));
    return "Cannot write output: " + output_ + (reason.empty() ? "" : " (" + reason + ")");
}

// Ends the job at a frame the encoder did not take whole: what was
// written whole is what was done.
VideoJob::Outcome VideoJob::encoder_refused(std::string& error) {
    done_ = writer_->written();
    return failed(BRIGHTLOOM_CANNOT_WRITE, encoder_failure(), error);
}

VideoJob::Outcome VideoJob::failed(brightloom_status status, std::string message, std::string& error) {
    error = std::move(message);
    failure_status_ = status;
    return Outcome::Failed;
}

VideoJob::Outcome VideoJob::run(const FrameOperation& operation, const Progress& progress,
                                std::string& error) {
    decoder_.reset(new ChildProcess());
    ChildProcess::Streams streams;
    streams.pipe_output = true;
    streams.error_file = temp_path("decoder.log");
    if (!decoder_->start(decoder_args(ffmpeg_, info_, input_, options_.window), streams, error))
        return failed(BRIGHTLOOM_UNREADABLE_INPUT, error, error);
    note_child(DECODER, decoder_->pid());
    ChildProcess& decoder = *decoder_;
    FrameReadAhead reader(decoder.output_fd(), [&decoder] { decoder.kill_now(); });
    RawFrame frame;
    int64_t to_skip = options_.window.skip;
    if (progress) progress(0, total());
    for (;;) {
        if (cancelled()) return Outcome::Cancelled;
        FrameStreamReader::Result result = reader.next(frame);
        if (result == FrameStreamReader::Result::End) break;
        // Frames between the key frame and the window's first are only decoded.
        if (result == FrameStreamReader::Result::Frame && to_skip > 0) {
            --to_skip;
            continue;
        }
        int width = reader.width(), height = reader.height();
        if (result == FrameStreamReader::Result::Damaged || width <= 0 || height <= 0 ||
            frame.rgb.size() != size_t(width) * size_t(height) * 3) {
            return failed(BRIGHTLOOM_UNSUPPORTED_FORMAT, "Not a video: " + input_, error);
        }
        // The probe's size is the container's word; the decoded frames decide.
        if (!encoder_) {
            std::string problem = frame_size_problem(options_, int64_t(width) * options_.scale,
                                                     int64_t(height) * options_.scale, input_);
            if (!problem.empty()) return failed(BRIGHTLOOM_TOO_LARGE, std::move(problem), error);
        }
        std::vector<uint8_t> processed = process_frame(operation, frame, width, height);
        if (!encoder_) {
            if (brightloom_status status = start_encoder(width * options_.scale, height * options_.scale,
                                                         reader.timestamp_scale(), error))
                return failed(status, error, error);
        }
        // Written while the next frame is processed; a frame the writer has
        // is done (the count goes back should the encoder refuse it).
        if (!writer_->write(frame.timestamp, std::move(processed))) return encoder_refused(error);
        ++done_;
        if (progress) progress(done_, total());
    }
    if (encoder_ && !writer_->wait()) return encoder_refused(error);
    input_ended_ = true;
    note_child(DECODER, 0);
    int decoder_code = decoder_->wait();
    if (done_ == 0) {
        return failed(BRIGHTLOOM_UNREADABLE_INPUT, "No frames in: " + input_, error);
    }
    if (cancelled()) return Outcome::Cancelled;
    encoder_->close_input();
    note_child(ENCODER, 0);
    if (encoder_->wait() != 0) return failed(BRIGHTLOOM_CANNOT_WRITE, encoder_failure(), error);
    if (decoder_code != 0 || (info_.frame_count > 0 && done_ < info_.frame_count)) {
        return failed(BRIGHTLOOM_UNREADABLE_INPUT,
                      "Input ended early after " + std::to_string(done_) + " frames: " + input_, error);
    }
    if (stores_rotation(options_, info_)) {
        if (brightloom_status status = tag_rotation(error)) return failed(status, error, error);
    }
    int slot = tagged_.empty() ? 0 : 1;
    std::string& finished = slot == 0 ? partial_ : tagged_;
    if (!holds_every_frame(finished, error)) return failed(BRIGHTLOOM_CANNOT_WRITE, error, error);
    if (rename(finished.c_str(), output_.c_str()) != 0)
        return failed(BRIGHTLOOM_CANNOT_WRITE,
                      "Cannot write output: " + output_ + " (" + strerror(errno) + ")", error);
    finished.clear();
    if (stop_state_) stop_state_->partials[slot][0] = '\0';
    return Outcome::Complete;
}

// Statuses as start_encoder's.
brightloom_status VideoJob::tag_rotation(std::string& error) {
    if (!make_partial(1, tagged_, error)) return BRIGHTLOOM_CANNOT_WRITE;
    ChildProcess tagger;
    ChildProcess::Streams streams;
    streams.error_file = temp_path("encoder.log");
    if (!tagger.start(rotation_tag_args(ffmpeg_, options_, info_, partial_, tagged_), streams, error))
        return BRIGHTLOOM_UNREADABLE_INPUT;
    note_child(HELPER, tagger.pid());
    int code = tagger.wait();
    note_child(HELPER, 0);
    if (code != 0) {
        std::string reason = last_line_of(temp_path("encoder.log"));
        error = "Cannot write output: " + output_ + (reason.empty() ? "" : " (" + reason + ")");
        return BRIGHTLOOM_CANNOT_WRITE;
    }
    return BRIGHTLOOM_OK;
}

// ffmpeg can answer success for a video short of frames (it reads a frame it
// cannot take as the end of its input): the finished file is counted.
bool VideoJob::holds_every_frame(const std::string& encoded, std::string& error) {
    int64_t encoded_frames = count_video_packets(ffprobe_, encoded, options_.container);
    if (encoded_frames == done_) return true;
    std::string reason = last_line_of(temp_path("encoder.log"));
    if (reason.empty())
        reason = (encoded_frames < 0 ? std::string("no") : std::to_string(encoded_frames)) + " of " +
                 std::to_string(done_) + " frames encoded";
    error = "Cannot write output: " + output_ + " (" + reason + ")";
    return false;
}

bool VideoJob::join(const std::vector<std::string>& segments, const std::vector<int64_t>& frames,
                    std::string& error) {
    const std::string list = temp_path("segments.txt");
    {
        std::ofstream listing(list, std::ios::binary);
        listing << concat_listing(segments, frames, info_);
        if (!listing.flush()) {
            error = "Cannot write output: " + output_ + " (" + strerror(errno) + ")";
            return false;
        }
    }
    if (!make_partial(0, partial_, error)) return false;
    ChildProcess joiner;
    ChildProcess::Streams streams;
    streams.error_file = temp_path("join.log");
    if (!joiner.start(join_args(ffmpeg_, options_, info_, list, input_, partial_), streams, error))
        return false;
    note_child(HELPER, joiner.pid());
    int code = joiner.wait();
    note_child(HELPER, 0);
    if (code != 0) {
        std::string reason = last_line_of(temp_path("join.log"));
        error = "Cannot write output: " + output_ + (reason.empty() ? "" : " (" + reason + ")");
        return false;
    }
    if (rename(partial_.c_str(), output_.c_str()) != 0) {
        error = "Cannot write output: " + output_ + " (" + strerror(errno) + ")";
        return false;
    }
    partial_.clear();
    if (stop_state_) stop_state_->partials[0][0] = '\0';
    return true;
}
