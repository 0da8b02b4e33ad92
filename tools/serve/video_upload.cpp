#include "video_upload.h"

#include <filesystem>
#include <fstream>

#include "connection_watch.h"

namespace {

// A video form has at most a dozen fields.
constexpr size_t MAX_FORM_PARTS = 24;

// The reading of one form, stopped at the first problem.
class UploadReader {
public:
    UploadReader(const UploadLimits& limits, Spool& spool, const std::string& path,
                 VideoUpload& upload)
        : limits_(limits), spool_(spool), path_(path), upload_(upload) {}

    bool start_part(const httplib::MultipartFormData& header) {
        if (++parts_ > MAX_FORM_PARTS) return fail(400, "The form has too many fields");
        in_video_ = header.name == "video";
        if (!in_video_) {
            field_ = upload_.fields.emplace(header.name, header);
            return true;
        }
        if (upload_.has_video) return fail(400, "Send one video only");
        upload_.has_video = true;
        file_.open(path_, std::ios::binary | std::ios::trunc);
        if (!file_) return fail(507, "The server cannot store the upload");
        return true;
    }

    bool take(const char* data, size_t size) {
        received_ += size;
        if (too_large()) return fail(413, too_large_message());
        if (!in_video_) {
            fields_bytes_ += size;
            if (fields_bytes_ > limits_.max_fields_bytes)
                return fail(413, "The pictures and fields beside the video are too large");
            field_->second.content.append(data, size);
            return true;
        }
        if (!spool_.try_take(size))
            return fail(507, "The server's video storage is full; try again later");
        upload_.video_bytes += size;
        if (!file_.write(data, static_cast<std::streamsize>(size)))
            return fail(507, "The server cannot store the upload");
        return true;
    }

    // After the reading: 0 or the status.
    int finish(bool whole, std::string& problem) {
        if (file_.is_open()) file_.close();
        if (whole && !file_.fail()) return 0;
        if (status_ == 0) {
            if (too_large())
                fail(413, too_large_message());
            else if (file_.fail())
                fail(507, "The server cannot store the upload");
            else
                fail(400, "The form could not be read whole: send well-formed fields");
        }
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
        spool_.give_back(upload_.video_bytes);
        upload_.video_bytes = 0;
        problem = problem_;
        return status_;
    }

private:
    bool too_large() const {
        WatchedConnection* connection = serving_connection();
        return received_ > limits_.max_body_bytes || (connection && connection->body_too_large());
    }

    std::string too_large_message() const {
        return "Upload too large: the limit is " + std::to_string(limits_.max_body_mb) + " MB";
    }

    bool fail(int status, const std::string& problem) {
        if (status_ == 0) {
            status_ = status;
            problem_ = problem;
        }
        return false;
    }

    const UploadLimits& limits_;
    Spool& spool_;
    const std::string& path_;
    VideoUpload& upload_;
    std::ofstream file_;
    httplib::MultipartFormDataMap::iterator field_;
    bool in_video_ = false;
    size_t parts_ = 0;
    uint64_t received_ = 0, fields_bytes_ = 0;
    int status_ = 0;
    std::string problem_;
};

}  // namespace

int read_video_upload(const httplib::ContentReader& read, const UploadLimits& limits,
                      Spool& spool, const std::string& video_path, VideoUpload& upload,
                      std::string& problem) {
    UploadReader reader(limits, spool, video_path, upload);
    const bool whole = read(
        [&reader](const httplib::MultipartFormData& header) { return reader.start_part(header); },
        [&reader](const char* data, size_t size) { return reader.take(data, size); });
    const int status = reader.finish(whole, problem);
    if (status != 0)
        if (WatchedConnection* connection = serving_connection()) connection->leave_body_unread();
    return status;
}
