// The temporary files and folders of a video run, named so that a signal
// handler can remove them whenever the signal comes: each name is written
// where the handler reads it before the file exists, and never half-written.
#ifndef BL_VIDEO_FILE_VIDEO_TEMP_FILES_H
#define BL_VIDEO_FILE_VIDEO_TEMP_FILES_H

#include <string>

enum class TempKind { File, Directory };

// Writes `path` into `slot` (PATH_MAX bytes) so that a signal handler reading
// it, on any thread, sees either an empty name or the whole path.
void publish_path(char* slot, const std::string& path);

// Creates `pattern` with its last "XXXXXX" replaced by random letters and
// digits, after publishing the name into `slot`: a file with the mode a plain
// open(..., 0666) gives under the umask (mkstemp's files are always 0600, and
// the finished output is this file renamed), or a folder with mode 0700.
// Returns the path, or "" with errno set and `slot` emptied.
std::string create_unique(const std::string& pattern, TempKind kind, char* slot);

#endif
