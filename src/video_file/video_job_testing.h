// The benchmarks' and tests' switch between a video job's frames read ahead
// and written behind on threads of their own (the default) and all of its
// I/O in place on the caller's thread, one frame after another. Compiled only
// into the internal library they link (bl_internal).
#ifndef BL_VIDEO_JOB_TESTING_H
#define BL_VIDEO_JOB_TESTING_H

// Jobs started from now on overlap their frames' I/O with the models (true)
// or do not (false).
void bl_video_job_set_overlap_for_testing(bool overlap);

#endif
