// Decoding from memory against decoding the same bytes as a file: the two
// readers under the decoders must give the same picture, or fail for the
// same reason. Any difference aborts.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "image/image_decode.h"

// A real (anonymous, self-deleting) file rather than a stream over memory:
// such a stream refuses to seek past its end where a file allows it, and that
// difference is the stream's, not the reader's.
static bl_image* decode_as_file(const uint8_t* data, size_t size, load_failure* failure) {
    FILE* file = tmpfile();
    if (!file || fwrite(data, 1, size, file) != size || fseek(file, 0, SEEK_SET) != 0) abort();
    decode_input input = decode_input::of_file(file, static_cast<int64_t>(size));
    bl_image* image = decode_image(input, failure);
    fclose(file);
    return image;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    load_failure memory_failure = load_failure::none;
    bl_image* from_memory = bl_image_decode_memory(data, size, &memory_failure);
    load_failure file_failure = load_failure::none;
    bl_image* from_file = decode_as_file(data, size, &file_failure);
    if (!from_memory || !from_file) {
        // Memory that runs out is the allocator's choice, not the reader's.
        const bool memory_ran_out = memory_failure == load_failure::out_of_memory ||
                                    file_failure == load_failure::out_of_memory;
        if ((from_memory || from_file || memory_failure != file_failure) && !memory_ran_out) abort();
    } else if (from_memory->width != from_file->width || from_memory->height != from_file->height ||
               memcmp(from_memory->data, from_file->data,
                      static_cast<size_t>(from_file->width) * from_file->height * 3) != 0) {
        abort();
    }
    bl_image_free(from_memory);
    bl_image_free(from_file);
    return 0;
}
