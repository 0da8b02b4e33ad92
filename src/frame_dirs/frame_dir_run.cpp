// The frame-directory procedure every runner shares: the legacy ones and the
// engine's.
#include "frame_dirs/frame_dir_run.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <algorithm>

#include "brightloom.h"
#include "engine/bl_status.h"
#include "image/image_io.h"
#include "platform/dir_list.h"
#include "platform/log_sink.h"
#include "platform/platform.h"

// ---------------------------------------------------------- frame list ---

static const char* const FRAME_EXTENSIONS[] = {".png", ".jpg", ".jpeg", ".bmp"};
static const int32_t FIRST_CAPACITY = 256;

int bl_frame_name_is_image(const char* name) {
    const char* dot = strrchr(name, '.');
    if (!dot) return 0;
    for (const char* extension : FRAME_EXTENSIONS)
        if (strcasecmp(dot, extension) == 0) return 1;
    return 0;
}

// 0, or -1 with the list unchanged when memory runs out.
static int frame_list_add(bl_frame_list* list, const char* name) {
    if (list->count == list->capacity) {
        if (list->capacity > INT32_MAX / 2) return -1;
        int32_t capacity = list->capacity == 0 ? FIRST_CAPACITY : list->capacity * 2;
        void* grown = realloc(list->names, static_cast<size_t>(capacity) * sizeof(char*));
        if (!grown) return -1;
        list->names = static_cast<char**>(grown);
        list->capacity = capacity;
    }
    char* copy = strdup(name);
    if (!copy) return -1;
    list->names[list->count++] = copy;
    return 0;
}

static int add_if_image(const char* name, void* context) {
    if (!bl_frame_name_is_image(name)) return 0;
    return frame_list_add(static_cast<bl_frame_list*>(context), name) == 0 ? 0
                                                                           : BL_FRAMES_NO_MEMORY;
}

void bl_frame_list_free(bl_frame_list* list) {
    for (int32_t i = 0; i < list->count; ++i) free(list->names[i]);
    free(list->names);
    *list = bl_frame_list{};
}

int bl_frame_list_read(const char* dir, bl_frame_list* list) {
    if (!dir) return BL_FRAMES_UNLISTABLE;
    int listed = bl_dir_list(dir, add_if_image, list);
    if (listed != 0) {
        bl_frame_list_free(list);
        return listed == BL_FRAMES_NO_MEMORY ? BL_FRAMES_NO_MEMORY : BL_FRAMES_UNLISTABLE;
    }
    // Byte order: frames come in video order only when their numbers are
    // zero-padded (frame10 sorts before frame2).
    std::sort(list->names, list->names + list->count,
              [](const char* a, const char* b) { return strcmp(a, b) < 0; });
    return BL_FRAMES_LISTED;
}

brightloom_status bl_frame_list_frames(const char* dir, bl_frame_list* list) {
    int listed = bl_frame_list_read(dir, list);
    if (listed == BL_FRAMES_NO_MEMORY) return bl_fail(BRIGHTLOOM_OUT_OF_MEMORY, "Out of memory");
    if (listed != BL_FRAMES_LISTED)
        return bl_fail(BRIGHTLOOM_UNREADABLE_INPUT, "Cannot list frames dir: %s", dir);
    if (list->count == 0)
        return bl_fail(BRIGHTLOOM_UNREADABLE_INPUT, "No frames found in: %s", dir);
    return BRIGHTLOOM_OK;
}

// ---------------------------------------------------------- procedure ---

static const size_t PATH_CAPACITY = 1024;

// Joins a directory and a name. A path that does not fit is refused rather
// than cut short: the shortened path would name some other file.
static bool join_path(char (&path)[PATH_CAPACITY], const char* dir, const char* name) {
    int n = snprintf(path, sizeof path, "%s%c%s", dir, BL_PATH_SEPARATOR, name);
    return n >= 0 && static_cast<size_t>(n) < sizeof path;
}

static bool cancel_requested(const bl_frame_runner* runner) { return runner->cancelled(runner->user); }

// Copies a frame whose operation failed unchanged, so that the output
// sequence has no hole. False when the frame could not be read or written.
static bool pass_through(const char* input_path, const char* output_path) {
    bl_image_ptr frame(bl_image_load(input_path));
    return frame && bl_image_save(frame.get(), output_path) == 0;
}

// Handles one frame; false when nothing could be written for it.
static bool run_frame(const bl_frame_runner* runner, const char* input_dir, const char* output_dir,
                      const char* name) {
    char input_path[PATH_CAPACITY];
    char output_path[PATH_CAPACITY];
    bool paths_fit =
        join_path(input_path, input_dir, name) && join_path(output_path, output_dir, name);

    bool written = paths_fit && runner->process(input_path, output_path, runner->context) == 0;
    if (!written) {
        bl_log(BRIGHTLOOM_LOG_WARNING, "[brightloom] %s: frame %s failed, passing through\n",
               runner->tag, name);
        written = paths_fit && pass_through(input_path, output_path);
    }
    // A frame that left nothing behind gets no second pass: the file of that
    // name in the output directory, if any, is not this run's.
    if (written && runner->finish && !cancel_requested(runner))
        runner->finish(output_path, runner->context);
    return written;
}

// Frames are written only into another, existing directory: writing into
// the input directory would replace the frames being read, and a failed
// write there would lose the original frame for good.
static brightloom_status check_output_dir(const char* input_dir, const char* output_dir) {
    if (!bl_dir_exists(output_dir))
        return bl_fail(BRIGHTLOOM_CANNOT_WRITE, "Output dir not found: %s", output_dir);
    if (bl_dir_same(input_dir, output_dir))
        return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "Output dir is the input dir: %s", output_dir);
    return BRIGHTLOOM_OK;
}

brightloom_status bl_frame_dir_run(const bl_frame_runner* runner, const char* input_dir,
                                   const char* output_dir) {
    if (!input_dir) input_dir = "";
    if (!output_dir) output_dir = "";

    bl_frame_list list = {};
    if (brightloom_status status = bl_frame_list_frames(input_dir, &list)) return status;
    if (brightloom_status status = check_output_dir(input_dir, output_dir)) {
        bl_frame_list_free(&list);
        return status;
    }

    const long total = list.count;
    if (runner->started) runner->started(runner->user, list.count);
    bl_log(BRIGHTLOOM_LOG_INFO, "[brightloom] %s: %ld frames, %s\n", runner->tag, total,
           runner->settings);

    int32_t failed = 0;
    for (int32_t j = 0; j < list.count; ++j) {
        if (cancel_requested(runner)) {
            bl_log(BRIGHTLOOM_LOG_INFO, "[brightloom] %s: cancelled at frame %ld/%ld\n",
                   runner->tag, static_cast<long>(j), total);
            break;
        }
        if (!run_frame(runner, input_dir, output_dir, list.names[j])) ++failed;
        if (runner->progress) runner->progress(runner->user, j + 1, list.count);
    }
    bl_frame_list_free(&list);

    if (cancel_requested(runner)) return BRIGHTLOOM_CANCELLED;
    if (failed == 0) return BRIGHTLOOM_OK;
    return bl_fail(BRIGHTLOOM_CANNOT_WRITE, "%d frames failed to process", failed);
}
