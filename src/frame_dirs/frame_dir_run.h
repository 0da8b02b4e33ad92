// The procedure every frame-directory runner shares (the legacy ones and
// the engine's): list the frame images of a directory, process them in name
// order into an output directory, pass failed frames through unchanged,
// count progress and stop on request.
#ifndef BL_FRAME_DIR_RUN_H
#define BL_FRAME_DIR_RUN_H

#include <stdint.h>

#include "brightloom.h"

// What sets one run apart from another: its lines, its frame operation and
// where its progress goes. The legacy runners keep their counters behind
// these hooks (legacy/legacy_runs.h); a run on an engine reports to its
// caller's callback and flag.
struct bl_frame_runner {
    const char* tag;       // names the runner in its log lines ("video_dir")
    const char* settings;  // tail of the start line ("enhance=1")
    void* user;            // handed to every hook
    // Once the frames are listed and the output folder checked (optional).
    void (*started)(void* user, int32_t total);
    // After every frame (optional).
    void (*progress)(void* user, int32_t done, int32_t total);
    // Read before every frame and before a second pass.
    bool (*cancelled)(void* user);
    // The frame operation, file to file: 0 on success.
    int32_t (*process)(const char* input_path, const char* output_path, const void* context);
    // Optional second pass over a frame this run wrote, skipped once a
    // cancellation has been requested; its result is not examined.
    int32_t (*finish)(const char* output_path, const void* context);
    const void* context;
};

// Runs the whole procedure after the runner's own preconditions have been
// checked: OK when every frame was handled, CANCELLED, or a failure with
// this thread's message: UNREADABLE_INPUT ("Cannot list frames dir: <dir>",
// "No frames found in: <dir>"), CANNOT_WRITE ("Output dir not found: <dir>",
// "<n> frames failed to process"), BAD_ARGUMENT ("Output dir is the input
// dir: <dir>"), OUT_OF_MEMORY.
brightloom_status bl_frame_dir_run(const bl_frame_runner* runner, const char* input_dir,
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

// The list of a run: as bl_frame_list_read, with the run's failures as
// statuses and this thread's message: UNREADABLE_INPUT ("Cannot list frames
// dir: <dir>", "No frames found in: <dir>"), OUT_OF_MEMORY.
brightloom_status bl_frame_list_frames(const char* dir, bl_frame_list* list);

#endif
