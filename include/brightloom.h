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
 * Unknown names select the default file. A NULL name is ignored. */
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

#ifdef __cplusplus
}
#endif

#endif /* BRIGHTLOOM_H */
