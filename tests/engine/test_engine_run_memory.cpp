// How an engine spends memory and time on its runs: the run memory budget
// is refused when negative, held while the engine is open and given back at
// close, and neither it nor warming the models at open changes a picture.
#include <string>
#include <vector>

#include "brightloom.h"
#include "inference/block_cache.h"
#include "support/engine_fixture.h"
#include "support/testutil.h"

using bl_test::engine_ptr;
using bl_test::ModelDir;
using bl_test::owned_image;
using bl_test::StderrCapture;

namespace {

const size_t MIB = static_cast<size_t>(1) << 20;

class EngineRunMemory : public ::testing::Test {
protected:
    void SetUp() override { bl_test::add_engine_models(&models); }

    engine_ptr open(brightloom_engine_params params) {
        StderrCapture quiet;
        brightloom_engine* opened = nullptr;
        EXPECT_EQ(brightloom_engine_open(models.path().c_str(), &params, &opened), BRIGHTLOOM_OK)
            << brightloom_last_error();
        return engine_ptr(opened);
    }

    // Every one-image operation and a swap on the squares picture, in turn.
    std::vector<std::vector<uint8_t>> results(brightloom_engine* engine) {
        const brightloom_image in = bl_test::as_public(target.get());
        const brightloom_image face = bl_test::as_public(source.get());
        const brightloom_options options = brightloom_default_options();
        std::vector<std::vector<uint8_t>> out;
        owned_image result;
        EXPECT_EQ(brightloom_swap_image(engine, &face, &in, &options, result.out()), BRIGHTLOOM_OK);
        out.push_back(result.bytes());
        EXPECT_EQ(brightloom_enhance_image(engine, &in, &options, result.out()), BRIGHTLOOM_OK);
        out.push_back(result.bytes());
        EXPECT_EQ(brightloom_colorize_image(engine, &in, &options, result.out()), BRIGHTLOOM_OK);
        out.push_back(result.bytes());
        EXPECT_EQ(brightloom_upscale_image(engine, &in, &options, result.out()), BRIGHTLOOM_OK);
        out.push_back(result.bytes());
        return out;
    }

    ModelDir models;
    bl_test::image_ptr source = bl_test::squares_image({{320, 320, 255, 255, 255}});
    bl_test::image_ptr target =
        bl_test::squares_image({{160, 160, 255, 40, 40}, {480, 400, 40, 40, 255}});
};

}  // namespace

TEST_F(EngineRunMemory, NegativeBudgetIsRefused) {
    brightloom_engine_params params = brightloom_engine_default_params();
    params.run_memory_mib = -1;
    brightloom_engine* opened = reinterpret_cast<brightloom_engine*>(&params);  // not NULL
    EXPECT_EQ(brightloom_engine_open(models.path().c_str(), &params, &opened),
              BRIGHTLOOM_BAD_ARGUMENT);
    EXPECT_STREQ(brightloom_last_error(), "Negative run memory budget: -1 MiB");
    EXPECT_EQ(opened, nullptr);
}

TEST_F(EngineRunMemory, BudgetHeldWhileOpenAndPicturesUnchanged) {
    engine_ptr reference = open(brightloom_engine_default_params());
    ASSERT_TRUE(reference);
    const std::vector<std::vector<uint8_t>> expected = results(reference.get());
    reference.reset();

    // A budget that keeps next to nothing, and one that keeps every block.
    for (int32_t mib : {1, 4096}) {
        SCOPED_TRACE(mib);
        brightloom_engine_params params = brightloom_engine_default_params();
        params.run_memory_mib = mib;
        engine_ptr engine = open(params);
        ASSERT_TRUE(engine);
        EXPECT_EQ(bl_block_cache_read_stats().budget, static_cast<size_t>(mib) * MIB);
        EXPECT_EQ(results(engine.get()), expected);
        EXPECT_EQ(results(engine.get()), expected);  // with the blocks the first calls kept
        EXPECT_LE(bl_block_cache_read_stats().kept_bytes, static_cast<size_t>(mib) * MIB);
        engine.reset();
        // Closed: the budget is no longer held and nothing stays kept.
        EXPECT_EQ(bl_block_cache_read_stats().kept_bytes, 0u);
        EXPECT_EQ(bl_block_cache_read_stats().budget,
                  bl_block_cache_read_stats().peak_in_use + BL_BLOCK_CACHE_MARGIN);
    }
}

TEST_F(EngineRunMemory, WarmUpLeavesEveryResultAsItWas) {
    const engine_ptr cold = open(brightloom_engine_default_params());
    ASSERT_TRUE(cold);
    brightloom_engine_params params = brightloom_engine_default_params();
    params.warm_up = 1;
    const engine_ptr warm = open(params);
    ASSERT_TRUE(warm);
    EXPECT_EQ(results(warm.get()), results(cold.get()));
}
