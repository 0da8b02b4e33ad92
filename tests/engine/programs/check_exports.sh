#!/bin/sh
# The shared library (Linux) or DLL (Windows) exports exactly the 32 public
# functions and the engine interface, and nothing else.
set -eu
lib="$1"
expected="brightloom_get_error brightloom_init brightloom_init_lite brightloom_set_detector
brightloom_set_detector_score brightloom_set_enhancer brightloom_set_enhancer_blend
brightloom_set_mask_blur brightloom_set_mask_padding brightloom_set_swapper brightloom_shutdown
face_blend face_enhance face_start_server face_stop_server face_swap face_swap_video_cancel
face_swap_video_cleanup face_swap_video_clear_reference face_swap_video_dir face_swap_video_frame
face_swap_video_init face_swap_video_progress face_swap_video_set_reference
face_swap_video_set_reference_distance face_swap_video_total frame_colorize
frame_process_video_cancel frame_process_video_dir frame_process_video_progress
frame_process_video_total frame_upscale
brightloom_last_error brightloom_status_name
brightloom_engine_default_params brightloom_engine_open brightloom_engine_close
brightloom_default_options brightloom_swap_image brightloom_enhance_image
brightloom_colorize_image brightloom_upscale_image brightloom_detect_faces
brightloom_swap_session_open brightloom_swap_session_frame brightloom_swap_session_close
brightloom_image_decode brightloom_image_load brightloom_image_encode brightloom_image_save
brightloom_image_release brightloom_bytes_release
brightloom_video_default_params brightloom_video_check_file brightloom_video_swap_file
brightloom_video_process_file brightloom_video_hard_stop brightloom_video_probe
brightloom_video_segments brightloom_video_frame_extract brightloom_video_join
brightloom_image_probe brightloom_image_probe_file brightloom_model_count brightloom_model_describe
brightloom_engine_describe brightloom_engine_model_dir brightloom_cpu_cores
brightloom_frames_default_params brightloom_frames_dir_run brightloom_frames_dir_list
brightloom_option_count brightloom_option_describe"
case "$lib" in
  *.dll)
    # The names of the export table's name-pointer table, one "[ n] name" a line.
    actual=$(x86_64-w64-mingw32-objdump -p "$lib" |
      sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/^[[:space:]]+\[/ {print $NF}' |
      sort | tr '\n' ' ') ;;
  *)
    actual=$(nm -D --defined-only "$lib" | awk '{print $3}' | sort | tr '\n' ' ') ;;
esac
want=$(printf '%s\n' $expected | sort | tr '\n' ' ')
if [ "$actual" != "$want" ]; then
  echo "exported: $actual"
  echo "expected: $want"
  exit 1
fi
echo "1 passed, 0 failed"
