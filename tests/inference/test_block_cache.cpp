// The block cache under the runtime's sessions: freed blocks come back to
// the next request of about their size, what it keeps stays within its
// budget, close hands everything back, and threads may share it.
#include <stdint.h>
#include <string.h>

#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "inference/block_cache.h"
#include "support/testutil.h"

namespace {

const size_t MIB = static_cast<size_t>(1) << 20;
// The budget an engine may hold the cache to (the automatic one grows with
// the use and is tested on its own).
const size_t BL_BLOCK_CACHE_BUDGET = 384 * MIB;

// The process's cache, emptied, with the runtime's calls on it. Large blocks
// here are never touched, so they cost address space, not memory.
class BlockCache : public ::testing::Test {
protected:
    void SetUp() override {
        const bl_runtime* runtime = bl_test::test_runtime();
        ASSERT_NE(runtime, nullptr) << "inference runtime not found";
        cache = bl_block_cache_allocator(runtime->ort);
        ASSERT_NE(cache, nullptr);
        ASSERT_TRUE(bl_block_cache_hold_budget(BL_BLOCK_CACHE_BUDGET));
        bl_block_cache_trim();
    }
    void TearDown() override {
        bl_block_cache_drop_budget(BL_BLOCK_CACHE_BUDGET);
        bl_block_cache_trim();
    }

    void* alloc(size_t size) { return cache->Alloc(cache, size); }
    void release(void* p) { cache->Free(cache, p); }
    size_t kept() const { return bl_block_cache_read_stats().kept_bytes; }

    OrtAllocator* cache = nullptr;
};

}  // namespace

TEST_F(BlockCache, AFreedBlockServesTheNextRequestOfAboutItsSize) {
    void* block = alloc(8 * MIB);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 64, 0u);
    release(block);
    EXPECT_EQ(kept(), 8 * MIB);
    const struct {
        size_t size;
        bool reused;
    } requests[] = {
        {9 * MIB, false},            // larger than the kept block
        {6 * MIB, false},            // so much smaller that the block would be wasted
        {8 * MIB - 512 * 1024, true},  // within an eighth
    };
    for (const auto& r : requests) {
        SCOPED_TRACE(r.size);
        const size_t hits_before = bl_block_cache_read_stats().hits;
        void* p = alloc(r.size);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p == block, r.reused);
        EXPECT_EQ(bl_block_cache_read_stats().hits - hits_before, r.reused ? 1u : 0u);
        memset(p, 0x5a, r.size);  // the whole request is usable
        release(p);
    }
}

TEST_F(BlockCache, KeepsTheNewestBlocksWithinItsBudgetAndNothingLarger) {
    const size_t part = BL_BLOCK_CACHE_BUDGET / 3;
    std::vector<void*> blocks;
    for (int i = 0; i < 4; ++i) blocks.push_back(alloc(part + static_cast<size_t>(i) * MIB));
    for (void* p : blocks) {
        ASSERT_NE(p, nullptr);
        release(p);
    }
    // Each block freed after the second pushed out the oldest kept one.
    EXPECT_EQ(kept(), (part + 2 * MIB) + (part + 3 * MIB));
    EXPECT_LE(kept(), BL_BLOCK_CACHE_BUDGET);
    // A block over the budget is never kept, and asking for it evicts nothing.
    const size_t before = kept();
    void* huge = alloc(BL_BLOCK_CACHE_BUDGET + MIB);
    ASSERT_NE(huge, nullptr);
    EXPECT_EQ(kept(), before);
    release(huge);
    EXPECT_EQ(kept(), before);
    // Close hands back what is kept; a block still in use stays usable.
    void* in_use = alloc(MIB);
    bl_block_cache_trim();
    EXPECT_EQ(kept(), 0u);
    memset(in_use, 1, MIB);
    release(in_use);
    EXPECT_EQ(kept(), MIB);
}

// Runs of several sessions take and free blocks from their own threads.
TEST_F(BlockCache, AnotherThreadReusesWhatOneFreed) {
    std::vector<std::thread> threads;
    std::vector<int> corrupted(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([this, t, &corrupted] {
            for (int i = 0; i < 200; ++i) {
                const size_t size = (static_cast<size_t>(i % 7) + 1) * 64 * 1024;
                uint8_t* p = static_cast<uint8_t*>(alloc(size));
                if (!p) continue;
                memset(p, t + 1, size);
                for (size_t k = 0; k < size; k += 4096) corrupted[t] += p[k] != t + 1;
                release(p);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < 4; ++t) EXPECT_EQ(corrupted[t], 0) << t;
    EXPECT_LE(kept(), BL_BLOCK_CACHE_BUDGET);
}

namespace {

// The cache with no engine's budget held: it follows the use.
class AutomaticBlockCache : public BlockCache {
protected:
    void SetUp() override {
        BlockCache::SetUp();
        bl_block_cache_drop_budget(BL_BLOCK_CACHE_BUDGET);
        bl_block_cache_trim();  // the use is learnt again from here
    }
    void TearDown() override {
        ASSERT_TRUE(bl_block_cache_hold_budget(BL_BLOCK_CACHE_BUDGET));  // as the base drops it
        BlockCache::TearDown();
    }
    size_t budget() const { return bl_block_cache_read_stats().budget; }
};

}  // namespace

TEST_F(AutomaticBlockCache, KeepsABlockLargerThanAnyFixedBudgetOnceARunUsedIt) {
    EXPECT_EQ(budget(), BL_BLOCK_CACHE_MARGIN);  // nothing in use so far
    const size_t large = BL_BLOCK_CACHE_MARGIN + 150 * MIB;
    void* block = alloc(large);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(bl_block_cache_read_stats().peak_in_use, large);
    release(block);
    EXPECT_EQ(kept(), large);
    EXPECT_EQ(budget(), large + BL_BLOCK_CACHE_MARGIN);
    EXPECT_EQ(alloc(large), block);  // the next run of that model finds it
    release(block);
}

TEST_F(AutomaticBlockCache, SmallestHeldBudgetWinsAndCountsTheBlocksInUse) {
    ASSERT_TRUE(bl_block_cache_hold_budget(64 * MIB));
    ASSERT_TRUE(bl_block_cache_hold_budget(256 * MIB));
    const struct {
        size_t in_use;  // held by another run meanwhile
        size_t freed;
        size_t drop;  // a budget dropped first (an engine closed)
        bool kept;
    } cases[] = {
        {0, 100 * MIB, 0, false},          // over the smallest budget
        {0, 100 * MIB, 64 * MIB, true},    // the larger one now applies
        {200 * MIB, 100 * MIB, 0, false},  // fits alone, not beside the use
        {100 * MIB, 100 * MIB, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.freed + c.in_use);
        if (c.drop) bl_block_cache_drop_budget(c.drop);
        bl_block_cache_trim();
        void* other = c.in_use ? alloc(c.in_use) : nullptr;
        void* block = alloc(c.freed);
        ASSERT_NE(block, nullptr);
        release(block);
        EXPECT_EQ(kept(), c.kept ? c.freed : 0u);
        release(other);
    }
    bl_block_cache_drop_budget(256 * MIB);
    bl_block_cache_trim();
    EXPECT_EQ(budget(), BL_BLOCK_CACHE_MARGIN + bl_block_cache_read_stats().peak_in_use);
}
