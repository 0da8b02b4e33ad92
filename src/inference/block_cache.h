// The memory a model run uses for its tensors, kept between runs up to a
// budget and shared by every session of the process. An arena per session
// keeps each model's largest run for good (nine high-water marks); no arena
// hands every block back at once, and the next run pays for mapping and
// zeroing it again. The cache keeps the most recently freed blocks up to its
// budget, whichever model used them, so repeated runs find their blocks
// ready while what stays resident is bounded.
#ifndef BL_BLOCK_CACHE_H
#define BL_BLOCK_CACHE_H

#include <stddef.h>

#include "inference/ort_api.h"

// Bytes of freed blocks the cache keeps.
const size_t BL_BLOCK_CACHE_BUDGET = static_cast<size_t>(384) << 20;

// The process's cache as an allocator for the runtime's environment. Made on
// first use and never freed, since an environment may still point at it
// after every engine has closed; nullptr when it cannot be made.
OrtAllocator* bl_block_cache_allocator(const OrtApi* ort);

// Frees every kept block (blocks in use stay theirs): an engine's close
// returns the memory its runs left behind.
void bl_block_cache_trim();

// What the cache holds and how often a run found its block ready.
struct bl_block_cache_stats {
    size_t kept_bytes;
    size_t hits;
    size_t misses;
};
bl_block_cache_stats bl_block_cache_read_stats();

#endif
