/*
 * libkalderon-brightloom-inference: find faces in image files and swap, restore,
 * colorize and upscale them with ONNX models run on the CPU.
 *
 * Usage:
 *
 *     #include <brightloom.h>
 *
 *     if (brightloom_init("/path/to/models") != 0) {
 *         fprintf(stderr, "init failed: %s\n", brightloom_get_error());
 *         return 1;
 *     }
 *     brightloom_set_mask_blur(0.3f);
 *     if (face_swap("source.jpg", "target.jpg", "result.png") != 0)
 *         fprintf(stderr, "swap failed: %s\n", brightloom_get_error());
 *     brightloom_shutdown();
 *
 * Threading. There is one engine per process. Callers serialize every call,
 * the setters included: no two functions of this library may run at the same
 * time. The one exception is a frame-directory run (face_swap_video_dir,
 * frame_process_video_dir): while it runs on one thread, another thread may
 * call that runner's progress, total and cancel functions
 * (face_swap_video_progress / _total / _cancel, frame_process_video_progress /
 * _total / _cancel). The library creates no thread of its own.
 *
 * Errors. Operations return 0 on success and -1 on failure; the directory runs
 * also return 1 when cancelled. Running out of memory fails the operation with
 * "Out of memory"; no C++ exception ever leaves the library. After a failure brightloom_get_error() returns
 * one message naming the failing step and the path concerned. Only
 * initialization clears the message, so after a success it may still hold the
 * message of an earlier failure. Progress lines and warnings go to stderr, one
 * line per event, each starting with a bracketed tag such as "[brightloom]".
 *
 * Images. Inputs are recognised by their first bytes, whatever their name:
 * PNG (every colour type and depth, interlaced too), JPEG (baseline and
 * progressive, grey or colour; turned upright as its EXIF orientation says),
 * GIF (the first frame), WebP (still pictures), BMP (uncompressed, 1 to 32
 * bits, bottom-up or top-down), TGA (plain or run-length) and binary PNM
 * (P5/P6, 8 or 16 bits). Everything else, PSD, PIC and HDR included, fails to
 * load with "Unsupported image format" on stderr. Pixels come as 8-bit RGB:
 * grey as three equal channels, alpha dropped, 16-bit samples cut to their
 * high byte. A file is refused before anything is allocated when it declares
 * more than BRIGHTLOOM_MAX_IMAGE_PIXELS pixels, or more than its length can
 * hold at the format's best compression (for WebP, which has no such bound:
 * one byte per 4096 pixels past the first megapixel); a damaged or truncated
 * file fails rather than loading in part. Peak memory of a load is the picture
 * (3 bytes a pixel) + a few rows + under 16 MiB, except progressive JPEG (plus
 * 2 bytes per colour sample held until the last scan) and WebP (plus the
 * file's size, and 4 bytes a pixel for lossless files). Outputs are written as
 * JPEG (quality 95) for ".jpg"/".jpeg", BMP for ".bmp", WebP (lossy, quality
 * 95, sides up to 16383) for ".webp", and PNG for ".png", any other extension
 * or none (extensions compared ignoring case).
 *
 * Paths are zero-terminated UTF-8 strings.
 */
#ifndef BRIGHTLOOM_H
#define BRIGHTLOOM_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#  if defined(BRIGHTLOOM_BUILDING)
#    define BRIGHTLOOM_API __declspec(dllexport)
#  else
#    define BRIGHTLOOM_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__)
#  define BRIGHTLOOM_API __attribute__((visibility("default")))
#else
#  define BRIGHTLOOM_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Largest image, in pixels (width x height), that is decoded: 2^28. */
#define BRIGHTLOOM_MAX_IMAGE_PIXELS (1 << 28)

/* ---------------------------------------------------------------- Engine --
 *
 * The model directory holds the models under fixed file names:
 *   detector (one required): scrfd_2.5g.onnx, yoloface_8n.onnx, yunet_2023mar.onnx
 *   68-point landmarker (optional): 2dfan4.onnx
 *   recognizer (required for swapping): arcface_w600k_r50.onnx
 *   swapper (required for swapping): uniface_256.onnx, inswapper_128.onnx,
 *       inswapper_128_fp16.onnx, blendswap_256.onnx or simswap_256.onnx
 *   face enhancer (optional): gfpgan_1.4.onnx, gfpgan_1.3.onnx, gfpgan_1.2.onnx,
 *       restoreformer_plus_plus.onnx
 *   occluder, face parser, colorizer (optional): face_occluder.onnx,
 *       face_parser.onnx, ddcolor.onnx
 *   frame upscalers (used by frame_upscale): real_esrgan_x2.onnx, real_esrgan_x4.onnx
 */

/* Full initialization: loads the detector (the one chosen by
 * brightloom_set_detector first, then the others), the optional landmarker,
 * the recognizer and swapper, and the optional enhancer, occluder, parser and
 * colorizer. Missing optional models only print a warning.
 * Returns 0 or -1. Messages: "model_dir is NULL or empty",
 * "Failed to get ONNX Runtime API", "No face detector model found in <dir> (...)",
 * "Failed to load face recognizer: <path>", "Failed to load face swapper: <path>".
 * Shut down before initializing again. */
BRIGHTLOOM_API int32_t brightloom_init(const char* model_dir);

/* As brightloom_init; with want_swap 0 the recognizer and swapper are not
 * loaded and face swapping is refused. Any non-zero want_swap counts as 1. */
BRIGHTLOOM_API int32_t brightloom_init_lite(const char* model_dir, int32_t want_swap);

/* Closes every model. Safe before initialization and when called twice.
 * Settings, the model directory and the error message are kept. */
BRIGHTLOOM_API void brightloom_shutdown(void);

/* The last error message, or "". Never NULL; the pointer stays valid for the
 * life of the process and its text changes with the next failure. */
BRIGHTLOOM_API const char* brightloom_get_error(void);

/* Model-name settings, read at the next initialization. Each keeps at most
 * 63 bytes of name, compared exactly (case-sensitive):
 *   detector: "scrfd" (default), "yoloface", "yunet";
 *   swapper: "uniface_256" (default), "inswapper_128", "inswapper_128_fp16",
 *            "blendswap_256", "simswap_256";
 *   enhancer: "gfpgan_1.4" (default), "gfpgan_1.3", "gfpgan_1.2",
 *             "restoreformer_plus_plus".
 * Unknown names select the default file. A NULL name is ignored. The names,
 * families and files are the model table's (brightloom_model_describe); the
 * defaults of the numbers below are brightloom_default_options'. */
BRIGHTLOOM_API void brightloom_set_detector(const char* name);
BRIGHTLOOM_API void brightloom_set_swapper(const char* name);
BRIGHTLOOM_API void brightloom_set_enhancer(const char* name);

/* Numeric settings, read by every operation when it runs; stored as given.
 *   detector score: minimum confidence of a detected face (default 0.3);
 *   enhancer blend: share of the restored face, 0 ... 1 (default 0.8);
 *   mask blur: feathering of the pasted face's edge, a fraction of half the
 *              crop width (default 0.3);
 *   mask padding: extra margins of the pasted region in percent of the crop,
 *                 top, right, bottom, left (default 0, 0, 0, 0). */
BRIGHTLOOM_API void brightloom_set_detector_score(float score);
BRIGHTLOOM_API void brightloom_set_enhancer_blend(float blend);
BRIGHTLOOM_API void brightloom_set_mask_blur(float blur);
BRIGHTLOOM_API void brightloom_set_mask_padding(int32_t top, int32_t right,
                                                int32_t bottom, int32_t left);

/* ------------------------------------------------------ One-shot operations --
 * Each reads its input file(s), writes output_path and prints one progress line. */

/* Puts the best face of source_path in place of every face of target_path.
 * Returns 0 when the output was written, else -1 with one of:
 * "Not initialized — call brightloom_init() first",
 * "Face swap is not available — engine was initialized with brightloom_init_lite(want_swap=0); no recognizer/swapper loaded",
 * "Failed to load source image: <path>", "Failed to load target image: <path>",
 * "No face detected in source image", "No face detected in target image",
 * "Failed to save output: <path>".
 * A face the swapper cannot process is left unchanged without failing the call. */
BRIGHTLOOM_API int32_t face_swap(const char* source_path, const char* target_path,
                                 const char* output_path);

/* face_swap with a softer mask edge (mask blur 0.5 for this call only). */
BRIGHTLOOM_API int32_t face_blend(const char* source_path, const char* target_path,
                                  const char* output_path);

/* Restores every face of input_path with the face-enhancer model, mixed in by
 * the enhancer blend. Without an enhancer model the output is a copy.
 * Messages: not initialized, "Failed to load image: <path>",
 * "No face detected in image", "Failed to save output: <path>". */
BRIGHTLOOM_API int32_t face_enhance(const char* input_path, const char* output_path);

/* Colorizes input_path, keeping its lightness; blend is the share of the
 * colorized result in percent (0 ... 100). Messages: not initialized,
 * "Failed to load image: <path>", "Colorization failed",
 * "Failed to save output: <path>". */
BRIGHTLOOM_API int32_t frame_colorize(const char* input_path, const char* output_path,
                                      float blend);

/* Upscales input_path by scale (2 or 4) with real_esrgan_x<scale>.onnx, which
 * is reopened on every call; blend is the share of the model result in percent.
 * Messages: not initialized, "Unsupported upscale factor: <n> (use 2 or 4)",
 * "Failed to load frame enhancer: <path>", "Failed to load image: <path>",
 * "Frame enhancement failed", "Failed to save output: <path>". */
BRIGHTLOOM_API int32_t frame_upscale(const char* input_path, const char* output_path,
                                     int32_t scale, float blend);

/* Placeholders for a network server: start always fails with
 * "HTTP server not yet implemented"; stop does nothing. */
BRIGHTLOOM_API int32_t face_start_server(int32_t port);
BRIGHTLOOM_API void face_stop_server(void);

/* --------------------------------------------------------------- Video swap --
 * A source face is analysed once and swapped into many frames. */

/* Caches the best face of source_path. Clears the reference face and the
 * swap-run counters. Messages: not initialized, swap not available,
 * "Failed to load source image: <path>", "No face detected in source image". */
BRIGHTLOOM_API int32_t face_swap_video_init(const char* source_path);

/* Swaps the cached face into every face of one frame file (only into faces
 * close to the reference face when one is set). A frame without faces is
 * saved unchanged. Messages:
 * "Video swap not initialized — call face_swap_video_init() first",
 * "Failed to load frame: <path>", "Failed to save frame: <path>". */
BRIGHTLOOM_API int32_t face_swap_video_frame(const char* input_path, const char* output_path);

/* Only faces resembling face number `position` (0 = best score; negative
 * counts as 0) of image_path are swapped from now on. Messages: not
 * initialized, swap not available, "Failed to load reference image: <path>",
 * "No face at position <p> in reference image (<n> found)". */
BRIGHTLOOM_API int32_t face_swap_video_set_reference(const char* image_path, int32_t position);

/* Largest identity distance (0 same ... 1 opposite) of a face that is still
 * swapped; default 0.3. Values outside (0, 1] are ignored. */
BRIGHTLOOM_API void face_swap_video_set_reference_distance(float distance);

/* Swap every face again. */
BRIGHTLOOM_API void face_swap_video_clear_reference(void);

/* Releases the cached source face and resets the swap-run counters. */
BRIGHTLOOM_API void face_swap_video_cleanup(void);

/* Swaps the cached face into every frame image (.png, .jpg, .jpeg, .bmp, any
 * case) of input_dir, in byte order of the names, writing frames of the same
 * names into the existing output_dir; with enhance non-zero the faces are
 * restored afterwards. A frame that fails is copied unchanged. Returns 0, 1
 * when cancelled, -1 on failure ("Video swap not initialized — ...",
 * "Cannot list frames dir: <dir>", "No frames found in: <dir>",
 * "Output dir not found: <dir>", "Output dir is the input dir: <dir>" (frames
 * are never rewritten in place), or "<n> frames failed to process" for frames
 * that could be neither processed nor copied, such as unreadable frames or
 * paths longer than 1023 bytes). Nothing is written on the early failures. */
BRIGHTLOOM_API int32_t face_swap_video_dir(const char* input_dir, const char* output_dir,
                                           int32_t enhance);

/* Frames done and frames listed of the current or last face_swap_video_dir
 * run, and a request to stop it after the current frame. Callable from
 * another thread while the run is in progress. */
BRIGHTLOOM_API int32_t face_swap_video_progress(void);
BRIGHTLOOM_API int32_t face_swap_video_total(void);
BRIGHTLOOM_API void face_swap_video_cancel(void);

/* ------------------------------------------------------- Frame directories -- */

/* Applies one operation to every frame image of input_dir, as
 * face_swap_video_dir does: mode 0 face_enhance, 1 frame_colorize(blend),
 * 2 frame_upscale(scale, blend). Returns 0, 1 when cancelled, -1 on failure
 * (not initialized, "Invalid mode: <m> (0=enhance, 1=colorize, 2=upscale)",
 * and the listing and frame messages of face_swap_video_dir). */
BRIGHTLOOM_API int32_t frame_process_video_dir(const char* input_dir, const char* output_dir,
                                               int32_t mode, int32_t scale, float blend);

/* Progress of frame_process_video_dir; callable from another thread during a run. */
BRIGHTLOOM_API int32_t frame_process_video_progress(void);
BRIGHTLOOM_API int32_t frame_process_video_total(void);
BRIGHTLOOM_API void frame_process_video_cancel(void);

/* ============================================================ Engine handle ==
 *
 * The interface under the functions above: an engine opened from a model
 * directory with a params struct, operations on images in memory with options
 * given per call, a status code for the program and a message for the person.
 *
 *     brightloom_engine* engine = NULL;
 *     brightloom_engine_params params = brightloom_engine_default_params();
 *     if (brightloom_engine_open("/path/to/models", &params, &engine) != BRIGHTLOOM_OK) {
 *         fprintf(stderr, "open failed: %s\n", brightloom_last_error());
 *         return 1;
 *     }
 *     brightloom_image source, target, result;
 *     brightloom_image_load("source.jpg", &source);
 *     brightloom_image_load("target.jpg", &target);
 *     brightloom_options options = brightloom_default_options();
 *     options.mask_blur = 0.5f;
 *     if (brightloom_swap_image(engine, &source, &target, &options, &result) == BRIGHTLOOM_OK) {
 *         brightloom_image_save(&result, "result.png");
 *         brightloom_image_release(&result);
 *     }
 *     brightloom_image_release(&source);
 *     brightloom_image_release(&target);
 *     brightloom_engine_close(engine);
 *
 * Threading. Any number of threads may call any operation on one engine (and
 * on one swap session) at the same time; an operation keeps nothing in
 * globals. Opening and closing are not concurrent with anything else on the
 * same handle: close an engine after every call on it has returned, and its
 * swap sessions before it. Engines are independent of each other and of the
 * process-wide engine behind the functions above.
 *
 * Statuses. Every function that can fail returns a brightloom_status; after a
 * failure brightloom_last_error() gives the calling thread's message, in the
 * same words as the functions above use. Nothing is written to an output
 * argument on failure except a cleared (all-zero) image or NULL handle.
 * Running out of memory gives BRIGHTLOOM_OUT_OF_MEMORY; no C++ exception ever
 * leaves the library.
 *
 * Files. The engine reads the model files of its directory when it opens (an
 * upscaler on its first use); brightloom_image_load and brightloom_image_save
 * read and write the named file; the video-file jobs read and write their
 * named files, a hidden partial output beside the output, and ffmpeg's
 * messages in a private folder under TMPDIR; nothing else is read or written.
 */

typedef enum brightloom_status {
    BRIGHTLOOM_OK = 0,
    BRIGHTLOOM_BAD_ARGUMENT = 1,       /* a NULL, empty or out-of-range argument */
    BRIGHTLOOM_UNREADABLE_INPUT = 2,   /* a file that cannot be read, a damaged or truncated image */
    BRIGHTLOOM_UNSUPPORTED_FORMAT = 3, /* bytes that are no image format we decode */
    BRIGHTLOOM_TOO_LARGE = 4,          /* an image (or result) over BRIGHTLOOM_MAX_IMAGE_PIXELS */
    BRIGHTLOOM_NO_FACE = 5,            /* no face (or none at the asked position) */
    BRIGHTLOOM_MODEL_MISSING = 6,      /* the operation's model is not in the directory */
    BRIGHTLOOM_MODEL_FAILED = 7,       /* a model failed to open or to run */
    BRIGHTLOOM_CANNOT_WRITE = 8,       /* an output file that cannot be written */
    BRIGHTLOOM_OUT_OF_MEMORY = 9,
    BRIGHTLOOM_CANCELLED = 10,         /* stopped on the caller's request */
    BRIGHTLOOM_INTERNAL = 11,          /* a fault of the library itself */
    BRIGHTLOOM_UNAVAILABLE = 12        /* a facility this build or machine lacks (ffmpeg, video files on Windows) */
} brightloom_status;

/* A short fixed name of a status ("ok", "bad argument", ...); never NULL. */
BRIGHTLOOM_API const char* brightloom_status_name(brightloom_status status);

/* The calling thread's message for its last failed call of this interface, or
 * "". Valid until this thread's next call into the library. */
BRIGHTLOOM_API const char* brightloom_last_error(void);

/* -------------------------------------------------------------- Logging -- */

typedef enum brightloom_log_level {
    BRIGHTLOOM_LOG_INFO = 0,    /* progress: a model opened, an operation done */
    BRIGHTLOOM_LOG_WARNING = 1, /* an optional model missing, a frame passed through */
    BRIGHTLOOM_LOG_ERROR = 2    /* a model that failed to open or run */
} brightloom_log_level;

/* Receives one line (no trailing newline), e.g. "[brightloom] detector
 * loaded: scrfd_2.5g.onnx". Called on the thread of the operation that logs,
 * possibly from several threads at once. */
typedef void (*brightloom_log_fn)(void* user_data, brightloom_log_level level, const char* line);

/* --------------------------------------------------------------- Engine -- */

typedef struct brightloom_engine brightloom_engine;

typedef struct brightloom_engine_params {
    /* sizeof(brightloom_engine_params) as the caller was compiled with; set by
     * brightloom_engine_default_params. Fields added later lie past a smaller
     * size and take their defaults. */
    uint32_t size;
    /* Model names as brightloom_set_detector / _swapper / _enhancer take them;
     * NULL: "scrfd", "uniface_256", "gfpgan_1.4". */
    const char* detector;
    const char* swapper;
    const char* enhancer;
    /* Non-zero (default): open the recognizer and swapper. Zero: swapping and
     * embeddings are refused with BRIGHTLOOM_MODEL_MISSING. */
    int32_t open_swap;
    /* Worker threads of one model run; 0 (default): the cores this process
     * may use (its CPU affinity and quota), counted when the engine opens.
     * More than those cores is capped at them, with an info line: every model
     * keeps its own pool, and threads past the cores only wait on each other.
     * Negative: BAD_ARGUMENT. */
    int32_t intra_threads;
    /* Where log lines go; NULL (default): standard error, one line each. */
    brightloom_log_fn log;
    void* log_user_data;
    /* MiB of run memory (the models' intermediate tensors) in use and kept
     * for the next runs together; blocks freed by a run are kept within it,
     * and a block larger than it is never kept. 0 (default): automatic, the
     * most the runs so far had in use at once plus 384 MiB, so every
     * operation finds its blocks ready (on the cost-matched models: resident
     * about 2x the opened model bytes after every operation ran, each
     * operation as fast as with an arena per model). A small budget keeps
     * the resident size near the model bytes at a cost in speed (measured
     * figures in the README). One cache serves every engine of the process:
     * the smallest budget of the open engines applies. Negative:
     * BAD_ARGUMENT. */
    int32_t run_memory_mib;
    /* Non-zero: every model opened runs once at open on zeros of its input
     * shape, so that the runtime's first-run work (planning its memory,
     * touching its buffers) is paid by the open instead of the first call,
     * which then takes about as long as any later one. For hosts that open
     * once and answer many calls; it adds about one run of every model to
     * the open (measured figures in the README). The upscalers, opened by
     * their first use, are not run. 0 (default): off. Results are the same
     * either way. */
    int32_t warm_up;
    /* Non-zero: the engine's messages name a model by its file name alone
     * and the model directory as "the model directory" ("Failed to load face
     * swapper: uniface_256.onnx"), for hosts that pass messages on to people
     * who must not learn the host's folders (a server). Log lines keep the
     * full paths. 0 (default): messages name the full paths. */
    int32_t private_model_dir;
} brightloom_engine_params;

BRIGHTLOOM_API brightloom_engine_params brightloom_engine_default_params(void);

/* Opens the models of model_dir as brightloom_init does (same files, order of
 * detectors, lines and warnings for missing optional models, with the same
 * messages). params may be NULL for the defaults. On success *engine is the
 * new engine; on failure it is NULL.
 * Statuses: BAD_ARGUMENT (NULL or empty dir, NULL engine, params.size 0, a
 * negative thread count or run memory budget), MODEL_MISSING (no detector opens; the recognizer's
 * or swapper's file absent when open_swap), MODEL_FAILED (the runtime cannot
 * be loaded, "Failed to get ONNX Runtime API"; the recognizer's or swapper's
 * file present but refused), OUT_OF_MEMORY. The factor-2 and factor-4
 * upscalers are opened by their first use, not here. */
BRIGHTLOOM_API brightloom_status brightloom_engine_open(const char* model_dir,
                                                        const brightloom_engine_params* params,
                                                        brightloom_engine** engine);

/* Closes every model of the engine. NULL is ignored. Called on a thread that
 * is inside a call on this engine (from its log callback, or a video job's
 * progress callback), it does nothing: the engine stays open and usable, and
 * the host closes it once the call has returned. */
BRIGHTLOOM_API void brightloom_engine_close(brightloom_engine* engine);

/* -------------------------------------------------------------- Queries --
 * What the library knows about its models and what an engine has, for hosts
 * that offer choices or report what is available: read here rather than
 * listed again or taken out of messages. */

/* The places a model fills in an engine. */
typedef enum brightloom_model_slot {
    BRIGHTLOOM_MODEL_DETECTOR = 0,   /* one required; engine params detector */
    BRIGHTLOOM_MODEL_LANDMARKER = 1, /* optional 68-point landmarker */
    BRIGHTLOOM_MODEL_RECOGNIZER = 2, /* required for swapping and embeddings */
    BRIGHTLOOM_MODEL_SWAPPER = 3,    /* required for swapping; engine params swapper */
    BRIGHTLOOM_MODEL_ENHANCER = 4,   /* optional face restorer; engine params enhancer */
    BRIGHTLOOM_MODEL_OCCLUDER = 5,   /* optional */
    BRIGHTLOOM_MODEL_PARSER = 6,     /* optional */
    BRIGHTLOOM_MODEL_COLORIZER = 7,  /* optional */
    BRIGHTLOOM_MODEL_UPSCALER = 8,   /* one per upscale factor, opened on first use */
    BRIGHTLOOM_MODEL_SLOT_RANGE_ = 2147483647 /* as BRIGHTLOOM_FORMAT_RANGE_ */
} brightloom_model_slot;

/* One model the library can open. The strings are the library's and stay
 * valid for the life of the process. */
typedef struct brightloom_model_row {
    uint32_t size;          /* set by the caller, as brightloom_image_info.size */
    int32_t slot;           /* a brightloom_model_slot */
    const char* name;       /* as the engine params and the setters take it: "scrfd" */
    const char* family;     /* the kind of model, deciding how it is run: "inswapper" */
    const char* file;       /* its file in the model directory: "scrfd_2.5g.onnx" */
    int32_t is_default;     /* 1 for the slot's default (the first row of the slot) */
    int32_t upscale_factor; /* upscalers: the factor (2, 4); else 0 */
} brightloom_model_row;

/* How many rows the model table has; rows 0 ... count - 1 are described.
 * Rows of a slot are in the order the engine tries them (detectors: the
 * chosen one first, then the others in this order). */
BRIGHTLOOM_API size_t brightloom_model_count(void);

/* Row `index` of the model table. Statuses: BAD_ARGUMENT (NULL row, row->size
 * 0, "No model row <i> (the table has <n>)"). */
BRIGHTLOOM_API brightloom_status brightloom_model_describe(size_t index, brightloom_model_row* row);

/* The state of one slot of an open engine. */
typedef enum brightloom_model_state {
    BRIGHTLOOM_MODEL_OPEN = 0,      /* open and used */
    BRIGHTLOOM_MODEL_ABSENT = 1,    /* its file is not in the model directory */
    BRIGHTLOOM_MODEL_REFUSED = 2,   /* its file is there but did not open */
    BRIGHTLOOM_MODEL_NOT_OPENED = 3, /* its file is there; not opened because the engine was
                                      * opened without swap (recognizer, swapper) or because it
                                      * opens on first use (an upscaler not used yet) */
    BRIGHTLOOM_MODEL_STATE_RANGE_ = 2147483647
} brightloom_model_state;

typedef struct brightloom_engine_model {
    int32_t row;   /* the model table row (brightloom_model_describe) of the slot's model */
    int32_t state; /* a brightloom_model_state */
} brightloom_engine_model;

/* What an open engine has. For a slot with several models, row is the one
 * it opened (detector: the one that opened after the fallbacks) or, when
 * none opened, the one its params chose. */
typedef struct brightloom_engine_info {
    uint32_t size; /* set by the caller, as brightloom_image_info.size */
    brightloom_engine_model detector; /* always OPEN */
    brightloom_engine_model landmarker;
    brightloom_engine_model recognizer;
    brightloom_engine_model swapper;
    brightloom_engine_model enhancer;
    brightloom_engine_model occluder;
    brightloom_engine_model parser;
    brightloom_engine_model colorizer;
    /* Factor 2 and factor 4; for the upscalers not yet opened, whether their
     * file is there is looked at when this is asked (OPEN once a use opened
     * one; REFUSED once a use found it refused). */
    brightloom_engine_model upscalers[2];
} brightloom_engine_info;

/* Fills *info (as far as info->size reaches). Statuses: BAD_ARGUMENT (NULL
 * engine or info, info->size 0). Callable from any thread while the engine
 * is open, calls on it in progress included. */
BRIGHTLOOM_API brightloom_status brightloom_engine_describe(brightloom_engine* engine,
                                                            brightloom_engine_info* info);

/* The model directory the engine was opened with, as given. *length is its
 * length in bytes (without the terminating zero); when capacity is more than
 * that the whole name is written with its zero, else the first capacity - 1
 * bytes and a zero (nothing when capacity is 0, buffer may then be NULL).
 * Statuses: BAD_ARGUMENT (NULL engine or length, NULL buffer with a
 * capacity). */
BRIGHTLOOM_API brightloom_status brightloom_engine_model_dir(brightloom_engine* engine,
                                                             char* buffer, size_t capacity,
                                                             size_t* length);

/* The cores this process may use, as an engine counts them for its
 * intra_threads 0: the physical cores within the process's CPU affinity,
 * capped by its control group's CPU quota; at least 1. For hosts that share
 * the cores between engines or jobs. */
BRIGHTLOOM_API int32_t brightloom_cpu_cores(void);

/* --------------------------------------------------------------- Images -- */

/* An 8-bit RGB picture: pixel (x, y) is pixels[y * stride + 3 * x + 0..2].
 * Images the library returns have stride = 3 * width and are released with
 * brightloom_image_release. Images a caller builds may have any stride of at
 * least 3 * width; the library only reads them. */
typedef struct brightloom_image {
    int32_t width;
    int32_t height;
    int32_t stride;  /* bytes from one row to the next */
    uint8_t* pixels;
} brightloom_image;

typedef enum brightloom_format {
    BRIGHTLOOM_FORMAT_PNG = 0,
    BRIGHTLOOM_FORMAT_JPEG = 1, /* quality 1 ... 100 */
    BRIGHTLOOM_FORMAT_BMP = 2,
    BRIGHTLOOM_FORMAT_WEBP = 3, /* lossy, quality 1 ... 100, sides up to 16383 */
    /* Read only: brightloom_image_probe names them; brightloom_image_encode
     * answers BAD_ARGUMENT. */
    BRIGHTLOOM_FORMAT_GIF = 4,
    BRIGHTLOOM_FORMAT_TGA = 5,
    BRIGHTLOOM_FORMAT_PNM = 6,
    /* Not a format: makes every 32-bit value one the enum can hold, so that a
     * value from a newer header is refused ("Unknown image format") instead of
     * being undefined. */
    BRIGHTLOOM_FORMAT_RANGE_ = 2147483647
} brightloom_format;

/* Decodes an image file held in memory with the decoders, limits and EXIF
 * orientation described at the top of this header. Statuses: BAD_ARGUMENT,
 * UNSUPPORTED_FORMAT, TOO_LARGE, UNREADABLE_INPUT (damaged or truncated),
 * OUT_OF_MEMORY. */
BRIGHTLOOM_API brightloom_status brightloom_image_decode(const void* bytes, size_t size,
                                                         brightloom_image* image);

/* brightloom_image_decode of a file's bytes; UNREADABLE_INPUT when the file
 * cannot be opened or read. The message names the path. */
BRIGHTLOOM_API brightloom_status brightloom_image_load(const char* path, brightloom_image* image);

/* Encodes into a new buffer released with brightloom_bytes_release. quality is
 * read for JPEG and WebP only; 0 means 95. Statuses: BAD_ARGUMENT (no pixels,
 * a side over the format's limit, an unknown format), OUT_OF_MEMORY. */
BRIGHTLOOM_API brightloom_status brightloom_image_encode(const brightloom_image* image,
                                                         brightloom_format format, int32_t quality,
                                                         uint8_t** bytes, size_t* size);

/* What an image file's header declares, read without decoding its pixels. */
typedef struct brightloom_image_info {
    /* sizeof(brightloom_image_info) as the caller was compiled with, set by
     * the caller ({sizeof info}): the library writes no field past it. */
    uint32_t size;
    int32_t width;  /* as brightloom_image_decode would give the picture: */
    int32_t height; /* a JPEG's EXIF orientation already applied */
    int32_t format; /* a brightloom_format */
} brightloom_image_info;

/* The size and format an image file held in memory declares, read by the
 * decoders' own header readers (the file is told apart by its first bytes,
 * as brightloom_image_decode does) and stopped before any pixel is decoded
 * or allocated for. A size past BRIGHTLOOM_MAX_IMAGE_PIXELS is answered as
 * declared, so a host can judge it (an upscale's result, say) before
 * decoding; brightloom_image_decode remains the judge of the file itself and
 * may still refuse it. Statuses: BAD_ARGUMENT (NULL bytes with a size,
 * NULL info, info->size 0), UNSUPPORTED_FORMAT, UNREADABLE_INPUT (a header
 * that is damaged or ends early, a side that is not positive),
 * OUT_OF_MEMORY. Nothing is written to info on failure. */
BRIGHTLOOM_API brightloom_status brightloom_image_probe(const void* bytes, size_t size,
                                                        brightloom_image_info* info);

/* brightloom_image_probe of a file, read where its header is: a JPEG's size
 * after any length of metadata costs a few small reads, not the whole file.
 * UNREADABLE_INPUT also when the file cannot be opened or read, or is no
 * regular file (what is read from a pipe would be gone for the decode). */
BRIGHTLOOM_API brightloom_status brightloom_image_probe_file(const char* path,
                                                             brightloom_image_info* info);

/* Writes the image in the format its extension names, as the file operations
 * above do. Statuses: BAD_ARGUMENT, CANNOT_WRITE. */
BRIGHTLOOM_API brightloom_status brightloom_image_save(const brightloom_image* image,
                                                       const char* path);

/* Release what the library allocated; NULL and cleared images are ignored.
 * An image is cleared (all zero) afterwards. */
BRIGHTLOOM_API void brightloom_image_release(brightloom_image* image);
BRIGHTLOOM_API void brightloom_bytes_release(uint8_t* bytes);

/* -------------------------------------------------------------- Options -- */

/* Which faces of the target a swap replaces. */
typedef enum brightloom_target {
    BRIGHTLOOM_TARGET_ALL = 0,       /* every face (default) */
    BRIGHTLOOM_TARGET_POSITION = 1,  /* the face at target_position, in detection order */
    BRIGHTLOOM_TARGET_REFERENCE = 2  /* faces within reference_distance of reference_embedding */
} brightloom_target;

/* Every operation that reads options checks them: size 0; a detector_score,
 * mask_blur or enhancer_blend outside 0 ... 1, a frame_blend outside
 * 0 ... 100 (NaN and infinities included), a mask_padding value outside
 * 0 ... 100 ("<field> <value> is outside <low> ... <high>", naming the
 * field), a negative max_faces; an unknown target, a negative
 * target_position, TARGET_REFERENCE without an embedding and a
 * reference_distance outside (0, 1] give BAD_ARGUMENT (swap session frames
 * check all but the target and reference fields, which they do not read).
 * The setters of the functions above keep storing any value. Every
 * operation below may also answer BRIGHTLOOM_CANCELLED (options->cancel). */
typedef struct brightloom_options {
    uint32_t size;           /* as in brightloom_engine_params */
    float detector_score;    /* minimum confidence of a face; default 0.3 */
    float mask_blur;         /* feathering of the pasted edge; default 0.3 */
    int32_t mask_padding[4]; /* top, right, bottom, left in percent; default 0 */
    int32_t soft_edge;       /* non-zero: face_blend's softer edge (mask blur 0.5) */
    float enhancer_blend;    /* share of the restored face, 0 ... 1; default 0.8 */
    int32_t enhance_after_swap; /* swaps and session frames: non-zero restores the
                                 * faces of the swapped image too (when an
                                 * enhancer is open) */
    float frame_blend;       /* colorize / upscale: share of the model result in percent; default 100 */
    int32_t upscale_factor;  /* 2 (default) or 4 */
    int32_t target;          /* a brightloom_target */
    int32_t target_position; /* for BRIGHTLOOM_TARGET_POSITION; 0 = best score */
    /* For BRIGHTLOOM_TARGET_REFERENCE: 512 values of unit length, as
     * brightloom_face.embedding; read during the call only. */
    const float* reference_embedding;
    float reference_distance; /* largest distance (0 same ... 1 opposite); default 0.3 */
    int32_t reference_position; /* swap sessions: face of the reference image;
                                 * default 0; negative counts as 0 */
    int32_t want_embedding;  /* brightloom_detect_faces: fill embeddings; default 0 */
    /* NULL (default) or a flag another thread sets non-zero to stop the
     * operation: it is read before each face, between the tiles of an
     * upscale and before and after a colorize's one model run, so a call
     * ends within one face, tile or run of the flag being set. A stopped call
     * answers BRIGHTLOOM_CANCELLED ("Cancelled") with no result (the result
     * image cleared, no faces counted, no session); a flag already set fails
     * the call before any work. The library only reads the flag, during the
     * call; the caller resets it. Video-file jobs stop through their params'
     * own flag instead. */
    const volatile int32_t* cancel;
    /* Most faces one operation detects and processes: the max_faces with the
     * best scores, which are the same faces an uncapped call would find
     * first. 0 (default): no ceiling (detection returns every face). Negative:
     * BAD_ARGUMENT ("max_faces <n> is negative (0: no ceiling)"). A position
     * (target_position, reference_position) past the ceiling finds no face. */
    int32_t max_faces;
    /* Swap-session frames and the swap and enhance video-file jobs: how
     * strongly each face's alignment points are smoothed along its track from
     * frame to frame. Faces are followed by box overlap (and, with a
     * reference, by identity); a face's points are carried along with how its
     * pixels moved and pulled towards the detector's points by a share of
     * 1 / (1 + 9 * smoothing), so steady motion keeps no lag while the
     * detector's jitter is averaged away; a new face, a lost one or a cut
     * starts afresh. 0: off, every frame done on its own exactly as a still
     * image (a session's frame with 0 also ends its tracks); up to 1
     * (strongest); negative (default): automatic, 0.5 for those, while still
     * images (brightloom_swap_image, brightloom_enhance_image) never smooth.
     * Larger than 1 or NaN: BAD_ARGUMENT "Smoothing <s> is outside 0 ... 1".
     * A session smooths its frames in the order its calls arrive: give a
     * video's frames in order, one at a time. */
    float smoothing;
} brightloom_options;

/* The options every field at its default, taken from the option table
 * below: hosts read their own defaults (and the settings' of the functions
 * above) from here, and their ranges from the table. */
BRIGHTLOOM_API brightloom_options brightloom_default_options(void);

/* How an option's value is held. */
typedef enum brightloom_option_kind {
    BRIGHTLOOM_OPTION_NUMBER = 0,  /* a float field */
    BRIGHTLOOM_OPTION_INTEGER = 1, /* an int32_t field (mask_padding: each of its four) */
    BRIGHTLOOM_OPTION_CHOICE = 2,  /* an int32_t field taking one of the row's choices */
    BRIGHTLOOM_OPTION_KIND_RANGE_ = 2147483647 /* as BRIGHTLOOM_FORMAT_RANGE_ */
} brightloom_option_kind;

/* One number of brightloom_options with the values the operations accept:
 * minimum ... maximum (NaN never), or one of the choices. The strings and
 * choices are the library's and stay valid for the life of the process. */
typedef struct brightloom_option_row {
    uint32_t size;             /* set by the caller, as brightloom_image_info.size */
    const char* name;          /* the field: "detector_score" */
    int32_t kind;              /* a brightloom_option_kind */
    double default_value;      /* as brightloom_default_options() holds it */
    double minimum;            /* smallest value accepted (CHOICE: smallest choice) */
    double maximum;            /* largest value accepted (CHOICE: largest choice) */
    int32_t minimum_excluded;  /* 1: only values above the minimum (reference_distance) */
    const int32_t* choices;    /* CHOICE: the values accepted, smallest first; else NULL */
    int32_t choice_count;      /* how many choices; else 0 */
} brightloom_option_row;

/* How many rows the option table has; rows 0 ... count - 1 are described. */
BRIGHTLOOM_API size_t brightloom_option_count(void);

/* Row `index` of the option table. Statuses: BAD_ARGUMENT (NULL row,
 * row->size 0, "No option row <i> (the table has <n>)"). */
BRIGHTLOOM_API brightloom_status brightloom_option_describe(size_t index,
                                                            brightloom_option_row* row);

/* ----------------------------------------------------------- Operations --
 * Each takes the engine, its image(s) and options (NULL: the defaults) and on
 * success stores a new image in *result. The inputs are only read. */

/* The best face of source in place of the target faces options->target
 * selects. Statuses: BAD_ARGUMENT, MODEL_MISSING (engine opened without
 * swap), NO_FACE ("No face detected in source image", "No face detected in
 * target image", "No face at position <p> in target image (<n> found)"),
 * OUT_OF_MEMORY. A face the swapper cannot process stays as it was. */
BRIGHTLOOM_API brightloom_status brightloom_swap_image(brightloom_engine* engine,
                                                       const brightloom_image* source,
                                                       const brightloom_image* target,
                                                       const brightloom_options* options,
                                                       brightloom_image* result);

/* Every face restored as face_enhance does (a copy without an enhancer
 * model). Statuses: BAD_ARGUMENT, NO_FACE ("No face detected in image"),
 * OUT_OF_MEMORY. */
BRIGHTLOOM_API brightloom_status brightloom_enhance_image(brightloom_engine* engine,
                                                          const brightloom_image* image,
                                                          const brightloom_options* options,
                                                          brightloom_image* result);

/* Colorized with options->frame_blend. Statuses: BAD_ARGUMENT, MODEL_MISSING
 * ("Colorization failed: no colorizer (ddcolor.onnx) in <dir>"), MODEL_FAILED
 * ("Colorization failed"), OUT_OF_MEMORY. */
BRIGHTLOOM_API brightloom_status brightloom_colorize_image(brightloom_engine* engine,
                                                           const brightloom_image* image,
                                                           const brightloom_options* options,
                                                           brightloom_image* result);

/* Enlarged options->upscale_factor times; the factor's model opens on first
 * use and stays open. Statuses: BAD_ARGUMENT ("Unsupported upscale factor:
 * <n> (use 2 or 4)"), TOO_LARGE (the result would pass
 * BRIGHTLOOM_MAX_IMAGE_PIXELS; checked before anything runs), MODEL_MISSING
 * (file absent) or MODEL_FAILED (file refused), both "Failed to load frame
 * enhancer: <path>", MODEL_FAILED ("Frame enhancement failed"), OUT_OF_MEMORY. */
BRIGHTLOOM_API brightloom_status brightloom_upscale_image(brightloom_engine* engine,
                                                          const brightloom_image* image,
                                                          const brightloom_options* options,
                                                          brightloom_image* result);

/* ------------------------------------------------------------ Analysis -- */

typedef struct brightloom_face {
    float box[4];            /* x1, y1, x2, y2 in image pixels */
    float score;             /* detector confidence */
    float points5[10];       /* the detector's eyes, nose, mouth corners: x, y pairs */
    int32_t has_points68;    /* 1 when the landmarker is open and refined this face */
    float points68[136];
    int32_t has_embedding;   /* 1 when embedding was asked for and computed */
    float embedding[512];    /* identity at unit length */
} brightloom_face;

/* Finds every face (best score first, no cap: the 64 of the functions above
 * do not apply). *count is how many were found; the first min(count,
 * capacity) are written to faces (faces may be NULL when capacity is 0).
 * Statuses: BAD_ARGUMENT, MODEL_MISSING (an embedding asked of an engine
 * opened without swap), MODEL_FAILED ("Face detection failed": the detector's
 * run failed), OUT_OF_MEMORY; no face is BRIGHTLOOM_OK with *count 0. */
BRIGHTLOOM_API brightloom_status brightloom_detect_faces(brightloom_engine* engine,
                                                         const brightloom_image* image,
                                                         const brightloom_options* options,
                                                         brightloom_face* faces, size_t capacity,
                                                         size_t* count);

/* ---------------------------------------------------------- Swap session --
 * A source face analysed once and swapped into many frames, as a video does. */

typedef struct brightloom_swap_session brightloom_swap_session;

/* Analyses the best face of source. With a reference image, only faces within
 * options->reference_distance of its face at options->reference_position are
 * swapped later. Statuses: BAD_ARGUMENT, MODEL_MISSING, NO_FACE ("No face
 * detected in source image", "No face at position <p> in reference image (<n>
 * found)"), OUT_OF_MEMORY. */
BRIGHTLOOM_API brightloom_status brightloom_swap_session_open(brightloom_engine* engine,
                                                              const brightloom_image* source,
                                                              const brightloom_image* reference,
                                                              const brightloom_options* options,
                                                              brightloom_swap_session** session);

/* The cached face swapped into one frame; a frame without (matching) faces
 * comes back as an unchanged copy. options->target and the reference fields
 * are not read (the session's reference decides). With options->smoothing
 * (automatic: on) the session follows the faces from one frame to the next
 * and frames of one session are done one at a time. Statuses: BAD_ARGUMENT,
 * OUT_OF_MEMORY. */
BRIGHTLOOM_API brightloom_status brightloom_swap_session_frame(brightloom_swap_session* session,
                                                               const brightloom_image* frame,
                                                               const brightloom_options* options,
                                                               brightloom_image* result);

/* NULL is ignored; from inside a call on this session on the same thread
 * (its engine's log callback), nothing is done, as brightloom_engine_close. */
BRIGHTLOOM_API void brightloom_swap_session_close(brightloom_swap_session* session);

/* ------------------------------------------------------------ Video files --
 * One job over a whole video file: ffmpeg (found on PATH, run as a child
 * process from an argument list, never a shell) decodes the frames, each frame
 * goes through an operation of the engine in memory, and ffmpeg encodes the
 * results as they come, keeping the frame count, the exact frame rate and
 * timestamps, the rotation and the sound. The result is written to a hidden
 * temporary file beside output_path (".<name>.XXXXXX.part", with the mode
 * a new file gets under the umask) and renamed to output_path only when
 * complete; on failure or cancel nothing is left behind. Output containers by
 * extension: .mp4, .m4v, .mov, .mkv, .webm. A frame the operation fails on
 * goes into the output as it came (enlarged, for an upscale) and is counted
 * in brightloom_video_summary.failed_frames. The library installs no signal
 * handlers. Not available in the Windows build (BRIGHTLOOM_UNAVAILABLE). */

typedef enum brightloom_video_operation {
    BRIGHTLOOM_VIDEO_ENHANCE = 0,  /* brightloom_enhance_image */
    BRIGHTLOOM_VIDEO_COLORIZE = 1, /* brightloom_colorize_image (options->frame_blend) */
    BRIGHTLOOM_VIDEO_UPSCALE = 2,  /* brightloom_upscale_image (options->upscale_factor, frame_blend) */
    BRIGHTLOOM_VIDEO_SWAP = 3      /* a swap session (brightloom_video_swap_file) */
} brightloom_video_operation;

/* Frames done so far and frames expected (-1 when the input does not say;
 * equal to done once the input has ended). Called on the job's thread after
 * every frame. */
typedef void (*brightloom_video_progress_fn)(void* user_data, int32_t done, int32_t total);

typedef struct brightloom_video_params {
    uint32_t size;        /* as in brightloom_engine_params */
    int32_t crf;          /* quality: 0 best ... 51 smallest; default 18 */
    const char* preset;   /* "ultrafast" ... "veryslow"; NULL: "medium" */
    const char* codec;    /* "libx264", "libx265", "libvpx-vp9"; NULL: libx264, VP9 for .webm */
    /* Swaps: -1 (default) or a frame number (0 = first) of the input whose
     * face at options->reference_position becomes the reference, as a
     * reference image would. */
    int32_t reference_frame;
    brightloom_video_progress_fn progress; /* NULL: none */
    void* progress_user_data;
    /* NULL or a flag another thread (or a signal handler) sets non-zero to
     * stop the job before its next frame: BRIGHTLOOM_CANCELLED. */
    const volatile int32_t* cancel;
    /* A frame range of the input (0 = first frame): only those frames are
     * decoded (from the key frame at or before first_frame on) and encoded,
     * without the input's sound, which brightloom_video_join puts back. For
     * the ranges of brightloom_video_segments. frame_count 0: to the end. */
    int32_t first_frame;
    int32_t frame_count;
} brightloom_video_params;

/* What a finished (or cancelled) job did. */
typedef struct brightloom_video_summary {
    int32_t frames;        /* frames decoded and encoded */
    int32_t failed_frames; /* of which passed through unprocessed */
} brightloom_video_summary;

BRIGHTLOOM_API brightloom_video_params brightloom_video_default_params(void);

/* Everything that can be refused without an engine, in this order: ffmpeg
 * missing (UNAVAILABLE, "ffmpeg is not installed: install the Debian package
 * ffmpeg"), encoding options that do not fit the output's container
 * (BAD_ARGUMENT), the input unreadable (UNREADABLE_INPUT, "Cannot read input:
 * <path>"), output_path naming the input or an unwritable place (CANNOT_WRITE,
 * "Output is the input: <path>", "Cannot write output: <path>"), no video
 * (UNSUPPORTED_FORMAT, "Not a video: <path>", "No video stream in: <path>"),
 * an upscale over BRIGHTLOOM_MAX_IMAGE_PIXELS (TOO_LARGE), frames (as
 * encoded, after an upscale) too large to encode (TOO_LARGE, "Frames of
 * <w>x<h> pixels are too large to encode: <limit>: <path>", the limit being
 * ffmpeg's 89478484 pixels a frame (256 MiB of RGB) read from the job,
 * libx264's and libvpx-vp9's 16384 pixels a side, or ffmpeg's own picture
 * check for thin frames). options may be NULL. The paths name exactly the
 * files read and written: a name such as img%03d.png is no pattern, and
 * none is taken as an option or a protocol. The jobs below make the same
 * checks; a host calls this to refuse before it opens an engine. */
BRIGHTLOOM_API brightloom_status brightloom_video_check_file(brightloom_video_operation operation,
                                                             const char* input_path,
                                                             const char* output_path,
                                                             const brightloom_options* options,
                                                             const brightloom_video_params* params);

/* Swaps the best face of source into every frame (only into faces resembling
 * the reference's face when reference is given or params->reference_frame is
 * set; not both), restoring them too with options->enhance_after_swap.
 * Statuses: those of brightloom_video_check_file and of
 * brightloom_swap_session_open, UNREADABLE_INPUT ("No frame <n> in: <path>",
 * "No frames in: <path>", "Input ended early after <n> frames: <path>"),
 * TOO_LARGE (decoded frames larger than the probe said, as above),
 * CANNOT_WRITE (with ffmpeg's last line in brackets; also when the encoded
 * file does not hold every frame sent, "(<n> of <m> frames encoded)" when
 * ffmpeg said nothing), CANCELLED. summary may be NULL. */
BRIGHTLOOM_API brightloom_status brightloom_video_swap_file(
    brightloom_engine* engine, const brightloom_image* source, const brightloom_image* reference,
    const char* input_path, const char* output_path, const brightloom_options* options,
    const brightloom_video_params* params, brightloom_video_summary* summary);

/* One of ENHANCE, COLORIZE, UPSCALE over every frame; statuses as above. */
BRIGHTLOOM_API brightloom_status brightloom_video_process_file(
    brightloom_engine* engine, brightloom_video_operation operation, const char* input_path,
    const char* output_path, const brightloom_options* options,
    const brightloom_video_params* params, brightloom_video_summary* summary);

/* A codec's name as ffmpeg gives it, zero-terminated (cut to 31 bytes). */
typedef struct brightloom_video_codec_name {
    char name[32];
} brightloom_video_codec_name;

/* What brightloom_video_probe tells about a video file's first video stream
 * and its sound. */
typedef struct brightloom_video_info {
    uint32_t size;          /* set by the caller, as brightloom_image_info.size */
    int32_t frames;         /* the container's count, or the packets counted when it has none */
    int32_t rate_num;       /* the exact frame rate: rate_num / rate_den frames a second */
    int32_t rate_den;       /* (0 / 0 when the stream states none) */
    int32_t variable_rate;  /* 1 when the frames do not follow one rate */
    int32_t width;          /* as decoded, before the rotation */
    int32_t height;
    int32_t display_width;  /* as shown: width and height swapped by a rotation of 90 or 270 */
    int32_t display_height;
    int32_t rotation;       /* display rotation: 0, 90, 180 or 270 */
    int32_t sound_streams;  /* every sound stream */
    /* The codecs of the first 8 sound streams; the rest are empty. */
    brightloom_video_codec_name sound_codecs[8];
} brightloom_video_info;

/* Fills *info (as far as info->size reaches) for path. Statuses:
 * BAD_ARGUMENT (NULL path or info, info->size 0), UNAVAILABLE (ffmpeg
 * missing), UNREADABLE_INPUT ("Cannot read input: <path>"),
 * UNSUPPORTED_FORMAT ("Not a video: <path>", "No video stream in: <path>"). */
BRIGHTLOOM_API brightloom_status brightloom_video_probe(const char* path,
                                                        brightloom_video_info* info);

/* A run of frames: first_frame (0 = first) and frame_count. */
typedef struct brightloom_video_range {
    int32_t first_frame;
    int32_t frame_count;
} brightloom_video_range;

/* Cuts path's frames into ranges that each start at a key frame and last at
 * least `seconds` (the last may be shorter): a new range starts at the first
 * key frame at or after n x seconds of the stream's time, n counting the
 * ranges so far. Each range decodes on its own, for jobs spread over
 * several machines (brightloom_video_params.first_frame / frame_count).
 * *count is the number of ranges; the first `capacity` are written to
 * ranges (which may be NULL when capacity is 0). Statuses: those of
 * brightloom_video_probe, BAD_ARGUMENT (NULL count, NULL ranges with a
 * capacity, seconds not above 0), UNREADABLE_INPUT ("No frames in: <path>"). */
BRIGHTLOOM_API brightloom_status brightloom_video_segments(const char* path, double seconds,
                                                           brightloom_video_range* ranges,
                                                           size_t capacity, size_t* count);

/* Frame frame_number (0 = first) of path as an image, upright as the jobs
 * see it; release it with brightloom_image_release. Statuses: those of
 * brightloom_video_probe, BAD_ARGUMENT (NULL image, a negative number),
 * UNREADABLE_INPUT ("No frame <n> in: <path>"), CANNOT_WRITE (no temporary
 * folder). */
BRIGHTLOOM_API brightloom_status brightloom_video_frame_extract(const char* path,
                                                                int32_t frame_number,
                                                                brightloom_image* image);

/* Joins encoded segments (the outputs of range jobs, in order, all in
 * output_path's container) into output_path without encoding again: at a
 * constant rate each segment lasts exactly its frames at that rate, the
 * rotation tag is set again (MP4, MOV), and the sound of sound_from_path
 * (NULL: none) is put back, copied where the container takes it as it is.
 * The rate and rotation are those of sound_from_path (the input the ranges
 * came from), or of the first segment when it is NULL. params: its codec
 * (libx265 in MP4 and MOV is tagged hvc1; NULL params: the defaults); the
 * rest is not read. Written as the jobs write (a hidden partial file
 * renamed when complete). Statuses: those of brightloom_video_probe for
 * every file read, BAD_ARGUMENT (no segments, NULL paths, params as the
 * jobs'), CANNOT_WRITE ("Output is the input: <path>", "Cannot write output:
 * <path>" with ffmpeg's last line in brackets). */
BRIGHTLOOM_API brightloom_status brightloom_video_join(const char** segment_paths,
                                                       size_t count, const char* sound_from_path,
                                                       const char* output_path,
                                                       const brightloom_video_params* params);

/* ------------------------------------------------- Frame directories --
 * One operation over every frame image of a folder on an engine: the frames
 * face_swap_video_dir and frame_process_video_dir take (.png, .jpg, .jpeg,
 * .bmp, any case), in byte order of their names, written under the same
 * names into another, existing folder. A frame the operation fails on is
 * copied unchanged (with a warning line). Available in every build. */

typedef struct brightloom_frames_params {
    uint32_t size;   /* as in brightloom_engine_params */
    /* Called on the run's thread after every frame: frames done and frames
     * listed. NULL: none. */
    brightloom_video_progress_fn progress;
    void* progress_user_data;
    /* NULL or a flag another thread sets non-zero to stop the run before its
     * next frame: BRIGHTLOOM_CANCELLED. Read only; the caller resets it. */
    const volatile int32_t* cancel;
    /* BRIGHTLOOM_VIDEO_SWAP: the session whose face goes into every frame
     * (opened on the same engine); options->enhance_after_swap restores the
     * faces too. Not read for the other operations. */
    brightloom_swap_session* session;
} brightloom_frames_params;

BRIGHTLOOM_API brightloom_frames_params brightloom_frames_default_params(void);

/* Runs `operation` (ENHANCE, COLORIZE, UPSCALE as the video-file jobs, or
 * SWAP with params->session) over every frame of input_dir into
 * output_dir, each frame as the in-memory operation does it with options
 * (NULL: the defaults). options->cancel is not read (params->cancel stops
 * the run). Statuses: BAD_ARGUMENT (NULL engine or folders, params->size 0,
 * an unknown operation, SWAP without a session, the options' checks, "Output
 * dir is the input dir: <dir>"), UNREADABLE_INPUT ("Cannot list frames dir:
 * <dir>", "No frames found in: <dir>"), CANNOT_WRITE ("Output dir not found:
 * <dir>", "<n> frames failed to process": frames that could be neither
 * processed nor copied), CANCELLED, OUT_OF_MEMORY. Nothing is written on the
 * failures before the first frame. */
BRIGHTLOOM_API brightloom_status brightloom_frames_dir_run(brightloom_engine* engine,
                                                           brightloom_video_operation operation,
                                                           const char* input_dir,
                                                           const char* output_dir,
                                                           const brightloom_options* options,
                                                           const brightloom_frames_params* params);

/* Receives one frame name: a bare file name in input_dir, valid during the
 * call only. */
typedef void (*brightloom_frame_name_fn)(void* user_data, const char* name);

/* The frames brightloom_frames_dir_run would take from input_dir, in the
 * order it takes them: name(user_data, file name) for each, all of them
 * called only once the whole folder was listed. For hosts that share a
 * folder's frames out (a cluster's chunks) and must cut the same list.
 * Statuses: BAD_ARGUMENT (NULL input_dir or name), UNREADABLE_INPUT ("Cannot
 * list frames dir: <dir>", "No frames found in: <dir>"), OUT_OF_MEMORY; no
 * name is given on a failure. */
BRIGHTLOOM_API brightloom_status brightloom_frames_dir_list(const char* input_dir,
                                                            brightloom_frame_name_fn name,
                                                            void* user_data);

/* For a host's signal handler that must end the process at once:
 * async-signal-safe, kills the ffmpeg children of every job in progress and
 * removes their temporary and partial files. The jobs then fail. */
BRIGHTLOOM_API void brightloom_video_hard_stop(void);

#ifdef __cplusplus
}
#endif

#endif /* BRIGHTLOOM_H */
