// Many threads on one engine: swaps, restorations, detections and swap
// session frames run at once give byte for byte what the same calls give one
// after another. Built with ThreadSanitizer (tools/test.sh) it also checks
// that nothing an operation touches is shared unguarded.
#include <string.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "brightloom.h"
#include "support/engine_fixture.h"
#include "support/session_fixture.h"
#include "support/test_images.h"
#include "support/testutil.h"

using bl_test::engine_ptr;
using bl_test::image_ptr;
using bl_test::owned_image;

namespace {

using call = std::function<std::vector<uint8_t>()>;

// The bytes of a result image, or of a status that was not OK (so that a
// failure compares unequal to any picture).
std::vector<uint8_t> outcome(brightloom_status status, const owned_image& result) {
    if (status != BRIGHTLOOM_OK) return std::vector<uint8_t>(1, static_cast<uint8_t>(status));
    return result.bytes();
}

class EngineThreads : public bl_test::SessionTest {
protected:
    void SetUp() override {
        bl_test::SessionTest::SetUp();
        // Three faces of different colours; one target keeps the run short
        // under the sanitizer while every operation still overlaps the others.
        targets.push_back(bl_test::squares_image(
            {{160, 160, 255, 60, 40}, {480, 250, 40, 40, 255}, {320, 480, 150, 255, 40}}));
    }

    // Every operation on every target, each call a function of its own.
    std::vector<call> calls() {
        std::vector<call> all;
        const brightloom_image in_source = bl_test::as_public(source.get());
        for (const image_ptr& target : targets) {
            const brightloom_image in = bl_test::as_public(target.get());
            all.push_back([this, in_source, in] {
                owned_image result;
                return outcome(brightloom_swap_image(engine.get(), &in_source, &in, nullptr,
                                                     result.out()),
                               result);
            });
            all.push_back([this, in] {
                owned_image result;
                return outcome(brightloom_enhance_image(engine.get(), &in, nullptr, result.out()),
                               result);
            });
            all.push_back([this, in] {
                owned_image result;
                return outcome(brightloom_swap_session_frame(session, &in, nullptr, result.out()),
                               result);
            });
            all.push_back([this, in] {
                brightloom_options options = brightloom_default_options();
                options.want_embedding = 1;
                std::vector<brightloom_face> faces(8);
                size_t count = 0;
                brightloom_status status = brightloom_detect_faces(
                    engine.get(), &in, &options, faces.data(), faces.size(), &count);
                const uint8_t* bytes = reinterpret_cast<const uint8_t*>(faces.data());
                std::vector<uint8_t> record(bytes, bytes + count * sizeof(brightloom_face));
                record.push_back(static_cast<uint8_t>(status));
                return record;
            });
        }
        return all;
    }

    std::vector<image_ptr> targets;
};

}  // namespace

TEST_F(EngineThreads, ConcurrentCallsGiveTheSerialResults) {
    const std::vector<call> all = calls();
    std::vector<std::vector<uint8_t>> serial;
    for (const call& c : all) serial.push_back(c());
    for (const std::vector<uint8_t>& result : serial) ASSERT_GT(result.size(), 1u);

    // Each thread runs every call, starting at its own place in the list, so
    // that different operations overlap.
    const size_t threads = 3;
    std::vector<std::vector<std::vector<uint8_t>>> seen(threads);
    std::vector<std::thread> workers;
    for (size_t t = 0; t < threads; ++t) {
        seen[t].resize(all.size());
        workers.emplace_back([&, t] {
            for (size_t k = 0; k < all.size(); ++k) {
                const size_t i = (k + t * all.size() / threads) % all.size();
                seen[t][i] = all[i]();
            }
        });
    }
    for (std::thread& worker : workers) worker.join();
    for (size_t t = 0; t < threads; ++t)
        for (size_t i = 0; i < all.size(); ++i)
            EXPECT_TRUE(seen[t][i] == serial[i]) << "thread " << t << ", call " << i;
}

// Engines are independent: closing one leaves another working.
TEST_F(EngineThreads, TwoEnginesServeAtOnce) {
    brightloom_engine* second = nullptr;
    {
        bl_test::StderrCapture quiet;
        ASSERT_EQ(brightloom_engine_open(models.path().c_str(), nullptr, &second), BRIGHTLOOM_OK);
    }
    const brightloom_image in = bl_test::as_public(targets[0].get());
    owned_image first_result, second_result;
    std::thread other([&] {
        ASSERT_EQ(brightloom_enhance_image(second, &in, nullptr, second_result.out()),
                  BRIGHTLOOM_OK);
    });
    ASSERT_EQ(brightloom_enhance_image(engine.get(), &in, nullptr, first_result.out()),
              BRIGHTLOOM_OK);
    other.join();
    brightloom_engine_close(second);
    EXPECT_EQ(first_result.bytes(), second_result.bytes());
    owned_image after;
    EXPECT_EQ(brightloom_enhance_image(engine.get(), &in, nullptr, after.out()), BRIGHTLOOM_OK);
    EXPECT_EQ(after.bytes(), first_result.bytes());
}
