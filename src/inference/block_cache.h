// The memory a model run uses for its tensors, kept between runs up to a
// budget and shared by every session of the process. An arena per session
// keeps each model's largest run for good (nine high-water marks); no arena
// hands every block back at once, and the next run pays for mapping and
// zeroing it again. The cache keeps the most recently freed blocks up to its
// budget, whichever model used them, so repeated runs find their blocks
// ready while what stays resident is bounded.
//
// The budget counts the blocks in use as well as the kept ones, so keeping
// never raises the peak past what the runs themselves need plus the budget's
// margin. By default it follows the work: the most the runs so far had in
// use at once, plus a margin that holds the smaller runs' blocks beside the
// largest one's (a swap's six models). A run larger than any fixed budget
// (a colorize's 540 MiB plan) then finds its block kept instead of mapping
// and faulting it in again every time.
#ifndef BL_BLOCK_CACHE_H
#define BL_BLOCK_CACHE_H

#include <stddef.h>

#include "inference/ort_api.h"

// What the automatic budget keeps beyond the largest use so far: a swap's
// blocks (about 410 MiB over six models, 250 MiB of them in use at once)
// stay kept beside the largest run's.
const size_t BL_BLOCK_CACHE_MARGIN = static_cast<size_t>(384) << 20;

// The process's cache as an allocator for the runtime's environment. Made on
// first use and never freed, since an environment may still point at it
// after every engine has closed; nullptr when it cannot be made.
OrtAllocator* bl_block_cache_allocator(const OrtApi* ort);

// Frees every kept block (blocks in use stay theirs): an engine's close
// returns the memory its runs left behind.
void bl_block_cache_trim();

// An engine's budget for the bytes in use and kept together, held while the
// engine is open (0: automatic, holds nothing). Several engines share the
// cache, so the smallest budget held wins; with none held the budget is
// automatic. A block larger than the budget is never kept. False when the
// budget cannot be recorded (out of memory).
bool bl_block_cache_hold_budget(size_t budget);
void bl_block_cache_drop_budget(size_t budget);

// What the cache holds and how often a run found its block ready.
struct bl_block_cache_stats {
    size_t kept_bytes;
    size_t hits;
    size_t misses;
    size_t missed_bytes;  // asked for by the misses
    size_t peak_in_use;   // the most bytes in use at once since the last trim
    size_t budget;        // in use and kept together, as it stands now
};
bl_block_cache_stats bl_block_cache_read_stats();

#endif
