// The procedure shared by the two frame-directory runners: list the frame
// images of a directory, process them in name order into an output
// directory, pass failed frames through unchanged, count progress and stop
// on request.
#ifndef BL_FRAME_DIR_RUN_H
#define BL_FRAME_DIR_RUN_H

#include <stdint.h>

#include <atomic>

// A run's progress and its cancellation request: the only values another
// thread may touch while a run goes on. Each is read and written whole with
// relaxed ordering; nothing else is published through them.
struct bl_run_counters {
    std::atomic<int32_t>* total;
    std::atomic<int32_t>* done;
    std::atomic<int32_t>* cancel;
};

// What sets one runner apart from the other.
struct bl_frame_runner {
    const char* tag;       // names the runner in its log lines ("video_dir")
    const char* settings;  // tail of the start line ("enhance=1")
    bl_run_counters counters;
    // The frame operation, a public file-to-file operation: 0 on success.
    int32_t (*process)(const char* input_path, const char* output_path, const void* context);
    // Optional second pass over a frame this run wrote, skipped once a
    // cancellation has been requested; its result is not examined.
    int32_t (*finish)(const char* output_path, const void* context);
    const void* context;
};

// Runs the whole procedure after the runner's own preconditions have been
// checked: 0 when every frame was handled, 1 when cancelled, -1 with a
// message otherwise.
int32_t bl_frame_dir_run(const bl_frame_runner* runner, const char* input_dir,
                         const char* output_dir);

// The frame images of a directory: bare names, owned by the list.
struct bl_frame_list {
    char** names;
    int32_t count;
    int32_t capacity;  // 0, then 256, doubling whenever full
};

enum { BL_FRAMES_LISTED = 0, BL_FRAMES_UNLISTABLE = -1, BL_FRAMES_NO_MEMORY = -2 };

// 1 when the text from the name's last '.' on is .png, .jpg, .jpeg or .bmp
// in any letter case, else 0.
int bl_frame_name_is_image(const char* name);

// Fills an empty list with the frame images of `dir`, sorted in byte order
// of their names. Returns one of the BL_FRAMES_* values; on failure the list
// is left empty.
int bl_frame_list_read(const char* dir, bl_frame_list* list);
void bl_frame_list_free(bl_frame_list* list);

#endif
