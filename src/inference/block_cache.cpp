#include "inference/block_cache.h"

#include <stdint.h>
#include <stdlib.h>
#ifdef _WIN32
#include <malloc.h>
#endif
#ifdef __linux__
#include <sys/mman.h>
#endif

#include <list>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <unordered_map>
#include <vector>

namespace {

// The runtime's kernels assume the alignment its own allocator gives.
const size_t ALIGNMENT = 64;
// A kept block serves a request up to an eighth smaller than itself: the
// same model on a slightly different picture still finds its blocks, and
// little is wasted.
const size_t SLACK_DIVISOR = 8;

#ifdef __linux__
// Blocks from 64 MiB up are mapped on their own and asked for huge pages: a
// run touches such a tensor whole, and taking it 2 MiB at a time instead of
// 4 KiB at a time saves most of what a block too large to keep costs (a
// colorize's 540 MiB plan: +10% of the run in faults without, +4% with).
// Smaller blocks stay with the C library, which reuses them in place; mapped
// with huge pages they measured slower.
const size_t HUGE_PAGE = static_cast<size_t>(2) << 20;
const size_t MAPPED_FROM = 32 * HUGE_PAGE;

size_t mapped_length(size_t size) { return (size + HUGE_PAGE - 1) / HUGE_PAGE * HUGE_PAGE; }

// A huge-page-aligned mapping of `size` bytes: one page more is mapped and
// the ends beyond the aligned part are handed back.
void* map_block(size_t size) {
    const size_t length = mapped_length(size);
    if (length < size) return nullptr;  // wrapped around
    void* mapped = mmap(nullptr, length + HUGE_PAGE, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return nullptr;
    const uintptr_t start = reinterpret_cast<uintptr_t>(mapped);
    const uintptr_t aligned = (start + HUGE_PAGE - 1) / HUGE_PAGE * HUGE_PAGE;
    if (aligned > start) munmap(mapped, aligned - start);
    if (start + HUGE_PAGE > aligned) munmap(reinterpret_cast<void*>(aligned + length), start + HUGE_PAGE - aligned);
    // Only advice: where huge pages are off, the block is as good without.
    madvise(reinterpret_cast<void*>(aligned), length, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(aligned);
}
#endif

void* system_alloc(size_t size) {
#ifdef _WIN32
    return _aligned_malloc(size, ALIGNMENT);
#else
#ifdef __linux__
    if (size >= MAPPED_FROM) return map_block(size);
#endif
    void* p = nullptr;
    return posix_memalign(&p, ALIGNMENT, size) == 0 ? p : nullptr;
#endif
}

// `size` is the block's own, as system_alloc was asked for it.
void system_free(void* p, size_t size) {
#ifdef _WIN32
    (void)size;
    _aligned_free(p);
#else
#ifdef __linux__
    if (size >= MAPPED_FROM) {
        munmap(p, mapped_length(size));
        return;
    }
#else
    (void)size;
#endif
    free(p);
#endif
}

// The runtime's allocator struct must come first, so that the pointer the
// runtime hands back to Alloc and Free is the cache itself.
struct block_cache {
    OrtAllocator base{};
    const OrtMemoryInfo* info = nullptr;

    std::mutex mutex;
    struct kept_block {
        void* p;
        size_t size;
    };
    std::list<kept_block> kept;  // least recently freed first
    std::multimap<size_t, std::list<kept_block>::iterator> kept_by_size;
    std::unordered_map<void*, size_t> in_use;  // block -> its size
    size_t kept_bytes = 0;
    size_t in_use_bytes = 0;
    size_t peak_in_use = 0;
    std::multiset<size_t> held_budgets;  // one per engine that set its own
    size_t hits = 0, misses = 0, missed_bytes = 0;

    size_t budget() const {
        if (!held_budgets.empty()) return *held_budgets.begin();
        return peak_in_use + BL_BLOCK_CACHE_MARGIN;
    }

    void count_in_use(size_t size) {
        in_use_bytes += size;
        if (in_use_bytes > peak_in_use) peak_in_use = in_use_bytes;
    }

    // A kept block of at least `size` bytes and not much more, taken out of
    // the cache; none when there is no such block.
    void* take_kept(size_t size, size_t* block_size) {
        auto found = kept_by_size.lower_bound(size);
        if (found == kept_by_size.end() || found->first - size > size / SLACK_DIVISOR) return nullptr;
        void* p = found->second->p;
        *block_size = found->first;
        kept.erase(found->second);
        kept_by_size.erase(found);
        kept_bytes -= *block_size;
        return p;
    }

    // Takes the oldest kept blocks out until `bytes` more fit the budget
    // beside the blocks in use; the caller frees them outside the lock.
    void make_room(size_t bytes, std::vector<kept_block>* evicted) {
        const size_t limit = budget();
        while (!kept.empty() && kept_bytes + in_use_bytes + bytes > limit) {
            const kept_block oldest = kept.front();
            evicted->push_back(oldest);  // first: it is the step that may throw
            auto range = kept_by_size.equal_range(oldest.size);
            for (auto it = range.first; it != range.second; ++it) {
                if (it->second == kept.begin()) {
                    kept_by_size.erase(it);
                    break;
                }
            }
            kept.pop_front();
            kept_bytes -= oldest.size;
        }
    }

    void* alloc(size_t size) {
        if (size == 0) size = 1;
        std::vector<kept_block> evicted;
        try {
            std::lock_guard<std::mutex> lock(mutex);
            size_t block_size = 0;
            if (void* p = take_kept(size, &block_size)) {
                ++hits;
                try {
                    in_use.emplace(p, block_size);
                } catch (...) {
                    system_free(p, block_size);  // its bookkeeping could not be made
                    return nullptr;
                }
                count_in_use(block_size);
                return p;
            }
            ++misses;
            missed_bytes += size;
            // Memory the cache keeps is better spent on this block, unless
            // the block is too large ever to be kept. The use is counted
            // first, so that the automatic budget grows with a run instead
            // of evicting what the run will free for its own growth.
            if (in_use_bytes + size > peak_in_use) peak_in_use = in_use_bytes + size;
            if (size <= budget()) make_room(size, &evicted);
        } catch (...) {
            return nullptr;  // the lock could not be taken
        }
        for (const kept_block& old : evicted) system_free(old.p, old.size);
        void* fresh = system_alloc(size);
        if (!fresh) return nullptr;
        try {
            std::lock_guard<std::mutex> lock(mutex);
            in_use.emplace(fresh, size);
            count_in_use(size);
        } catch (...) {
            system_free(fresh, size);
            return nullptr;
        }
        return fresh;
    }

    void release(void* p) {
        if (!p) return;
        std::vector<kept_block> evicted;
        bool kept_it = false;
        size_t size = 0;
        try {
            std::lock_guard<std::mutex> lock(mutex);
            auto found = in_use.find(p);
            if (found == in_use.end()) return;  // not ours: never happens, and never freed twice
            size = found->second;
            in_use.erase(found);
            in_use_bytes -= size;
            // Kept only where it fits beside the blocks still in use.
            if (in_use_bytes + size <= budget()) {
                make_room(size, &evicted);
                kept.push_back({p, size});
                try {
                    kept_by_size.emplace(size, std::prev(kept.end()));
                } catch (...) {
                    kept.pop_back();
                    throw;
                }
                kept_bytes += size;
                kept_it = true;
            }
        } catch (...) {
            // The block could not be recorded as kept: it goes back at once.
        }
        for (const kept_block& old : evicted) system_free(old.p, old.size);
        if (!kept_it && size > 0) system_free(p, size);
    }

    void trim() {
        std::list<kept_block> freed;
        {
            std::lock_guard<std::mutex> lock(mutex);
            freed.swap(kept);
            kept_by_size.clear();
            kept_bytes = 0;
            // The work of the engines still open is learnt again.
            peak_in_use = in_use_bytes;
        }
        for (const kept_block& block : freed) system_free(block.p, block.size);
    }
};

void* ORT_API_CALL cache_alloc(OrtAllocator* self, size_t size) {
    return reinterpret_cast<block_cache*>(self)->alloc(size);
}
void ORT_API_CALL cache_free(OrtAllocator* self, void* p) {
    reinterpret_cast<block_cache*>(self)->release(p);
}
const OrtMemoryInfo* ORT_API_CALL cache_info(const OrtAllocator* self) {
    return reinterpret_cast<const block_cache*>(self)->info;
}

std::mutex g_made_mutex;
block_cache* g_cache = nullptr;

// The process's cache, made now when it is not yet (under g_made_mutex): an
// engine may hold its budget before any environment asks for the allocator.
block_cache* cache_made_locked() {
    if (!g_cache) g_cache = new (std::nothrow) block_cache;
    return g_cache;
}

block_cache* current_cache() {
    std::lock_guard<std::mutex> lock(g_made_mutex);
    return g_cache;
}

}  // namespace

OrtAllocator* bl_block_cache_allocator(const OrtApi* ort) {
    std::lock_guard<std::mutex> lock(g_made_mutex);
    block_cache* cache = cache_made_locked();
    if (!cache) return nullptr;
    if (cache->info) return &cache->base;
    OrtMemoryInfo* info = nullptr;
    // Registered allocators must call themselves device allocators, whatever
    // they do inside.
    if (OrtStatus* status = ort->CreateCpuMemoryInfo(OrtDeviceAllocator, OrtMemTypeDefault, &info)) {
        ort->ReleaseStatus(status);
        return nullptr;
    }
    cache->base.version = BL_ORT_ALLOCATOR_VERSION;
    cache->base.Alloc = cache_alloc;
    cache->base.Free = cache_free;
    cache->base.Info = cache_info;
    cache->info = info;
    return &cache->base;
}

void bl_block_cache_trim() {
    if (block_cache* cache = current_cache()) cache->trim();
}

bool bl_block_cache_hold_budget(size_t budget) {
    if (budget == 0) return true;
    std::lock_guard<std::mutex> made(g_made_mutex);
    block_cache* cache = cache_made_locked();
    if (!cache) return false;
    try {
        std::lock_guard<std::mutex> lock(cache->mutex);
        cache->held_budgets.insert(budget);
    } catch (...) {
        return false;
    }
    return true;
}

void bl_block_cache_drop_budget(size_t budget) {
    if (budget == 0) return;
    block_cache* cache = current_cache();
    if (!cache) return;
    std::lock_guard<std::mutex> lock(cache->mutex);
    auto found = cache->held_budgets.find(budget);
    if (found != cache->held_budgets.end()) cache->held_budgets.erase(found);
}

bl_block_cache_stats bl_block_cache_read_stats() {
    std::lock_guard<std::mutex> made(g_made_mutex);
    if (!g_cache) return {0, 0, 0, 0, 0, 0};
    std::lock_guard<std::mutex> lock(g_cache->mutex);
    return {g_cache->kept_bytes,   g_cache->hits,        g_cache->misses,
            g_cache->missed_bytes, g_cache->peak_in_use, g_cache->budget()};
}
