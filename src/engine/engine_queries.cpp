// What the library and an open engine answer about their models, for hosts
// that offer choices or report what they can do without keeping a list of
// their own or reading it out of messages.
#include <stdio.h>
#include <string.h>

#include <mutex>
#include <string>

#include "brightloom.h"
#include "engine/bl_status.h"
#include "engine/exception_guard.h"
#include "engine/engine.h"
#include "engine/model_table.h"
#include "engine/option_table.h"
#include "platform/cpu_cores.h"
#include "platform/platform.h"

namespace {

// Copies a struct the library fills into the caller's, as far as the
// caller's size says it reaches, keeping the caller's size.
template <typename T>
brightloom_status hand_out(const T& filled, T* out, const char* what) {
    if (!out) return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "The %s is NULL", what);
    if (out->size == 0)
        return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "The %s' size is 0: set it to its sizeof", what);
    const uint32_t size = out->size;
    memcpy(static_cast<void*>(out), &filled, size < sizeof(T) ? size : sizeof(T));
    out->size = size;
    return BRIGHTLOOM_OK;
}

brightloom_engine_model described(const bl_engine_slot& slot) {
    return {bl_model_row_index(slot.row), slot.state};
}

// An upscaler that no use has opened yet is judged by its file being there.
brightloom_engine_model described_upscaler(brightloom_engine* engine, int which) {
    const bl_model_row* row = bl_upscaler_row(which == 1 ? 4 : 2);
    std::lock_guard<std::mutex> lock(engine->upscaler_lock);
    brightloom_model_state state = BRIGHTLOOM_MODEL_NOT_OPENED;
    if (engine->upscalers[which].model.is_open()) {
        state = BRIGHTLOOM_MODEL_OPEN;
    } else if (engine->upscaler_refused[which]) {
        state = BRIGHTLOOM_MODEL_REFUSED;
    } else {
        FILE* file = bl_fopen(bl_engine_model_path(engine, row->file).c_str(), "rb");
        if (file) fclose(file);
        else state = BRIGHTLOOM_MODEL_ABSENT;
    }
    return {bl_model_row_index(row), state};
}

}  // namespace

size_t brightloom_model_count(void) {
    size_t count = 0;
    bl_model_rows(&count);
    return count;
}

brightloom_status brightloom_model_describe(size_t index, brightloom_model_row* row) {
    return bl_status_guarded([&] {
        bl_clear_thread_error();
        size_t count = 0;
        const bl_model_row* rows = bl_model_rows(&count);
        if (row && row->size != 0 && index >= count)
            // Counts as text: the Windows build checks formats by its own C library's rules.
            return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "No model row %s (the table has %s)",
                           std::to_string(index).c_str(), std::to_string(count).c_str());
        brightloom_model_row filled = {sizeof filled, 0, "", "", "", 0, 0};
        if (index < count) {
            const bl_model_row& found = rows[index];
            filled.slot = found.slot;
            filled.name = found.name;
            filled.family = found.family;
            filled.file = found.file;
            filled.is_default = bl_model_row_for(found.slot, nullptr) == &found ? 1 : 0;
            filled.upscale_factor = found.upscale_factor;
        }
        return hand_out(filled, row, "model row");
    });
}

size_t brightloom_option_count(void) {
    size_t count = 0;
    bl_option_rows(&count);
    return count;
}

brightloom_status brightloom_option_describe(size_t index, brightloom_option_row* row) {
    return bl_status_guarded([&] {
        bl_clear_thread_error();
        size_t count = 0;
        const bl_option_row* rows = bl_option_rows(&count);
        if (row && row->size != 0 && index >= count)
            return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "No option row %s (the table has %s)",
                           std::to_string(index).c_str(), std::to_string(count).c_str());
        brightloom_option_row filled = {sizeof filled, "", 0, 0.0, 0.0, 0.0, 0, nullptr, 0};
        if (index < count) {
            const bl_option_row& found = rows[index];
            filled.name = found.name;
            filled.kind = found.kind;
            filled.default_value = found.default_value;
            filled.minimum = found.minimum;
            filled.maximum = found.maximum;
            filled.minimum_excluded = found.minimum_excluded ? 1 : 0;
            filled.choices = found.choices;
            filled.choice_count = found.choice_count;
        }
        return hand_out(filled, row, "option row");
    });
}

brightloom_status brightloom_engine_describe(brightloom_engine* engine,
                                             brightloom_engine_info* info) {
    return bl_status_guarded([&] {
        bl_clear_thread_error();
        if (!engine) return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "The engine is NULL");
        brightloom_engine_info filled;
        memset(&filled, 0, sizeof filled);
        filled.size = sizeof filled;
        const bl_engine_slot* slots = engine->slots;
        filled.detector = described(slots[BRIGHTLOOM_MODEL_DETECTOR]);
        filled.landmarker = described(slots[BRIGHTLOOM_MODEL_LANDMARKER]);
        filled.recognizer = described(slots[BRIGHTLOOM_MODEL_RECOGNIZER]);
        filled.swapper = described(slots[BRIGHTLOOM_MODEL_SWAPPER]);
        filled.enhancer = described(slots[BRIGHTLOOM_MODEL_ENHANCER]);
        filled.occluder = described(slots[BRIGHTLOOM_MODEL_OCCLUDER]);
        filled.parser = described(slots[BRIGHTLOOM_MODEL_PARSER]);
        filled.colorizer = described(slots[BRIGHTLOOM_MODEL_COLORIZER]);
        for (int which = 0; which < 2; ++which)
            filled.upscalers[which] = described_upscaler(engine, which);
        return hand_out(filled, info, "engine info");
    });
}

brightloom_status brightloom_engine_model_dir(brightloom_engine* engine, char* buffer,
                                              size_t capacity, size_t* length) {
    return bl_status_guarded([&] {
        bl_clear_thread_error();
        if (!engine || !length)
            return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "The %s is NULL", engine ? "length" : "engine");
        if (!buffer && capacity > 0)
            return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "The buffer is NULL with a capacity of %s",
                           std::to_string(capacity).c_str());
        const std::string& dir = engine->model_dir;
        *length = dir.size();
        if (capacity == 0) return BRIGHTLOOM_OK;
        const size_t copied = dir.size() < capacity ? dir.size() : capacity - 1;
        memcpy(buffer, dir.data(), copied);
        buffer[copied] = '\0';
        return BRIGHTLOOM_OK;
    });
}

int32_t brightloom_cpu_cores(void) {
    return bl_exception_guarded([] { return bl_cpu_cores_for_process(); },
                                [](bl_escape) { return 1; });
}
