#include "video_file/video_job_testing.h"

#include "video_file/frame_pipes.h"

void bl_video_job_set_overlap_for_testing(bool overlap) { g_bl_video_frame_pipes_threaded.store(overlap); }
