// JPEG through libjpeg-turbo, row by row, turned as its EXIF orientation says.
#include <setjmp.h>
#include <string.h>

#include <memory>

#include <jpeglib.h>
#include <jerror.h>

#include "image/image_decode.h"

// Huffman coding spends at least one bit on every 8 x 8 block of the
// component with the most samples, even in a progressive file's first scan.
static const int64_t JPEG_MAX_PIXELS_PER_BYTE = 8 * 64;

// Each progressive scan revisits the whole picture; real files have a dozen.
static const int JPEG_MAX_SCANS = 500;

// The largest marker payload: its length field counts itself.
static const size_t EXIF_MAX_BYTES = 65533;

// What libjpeg's own file source reads at a time.
static const size_t SOURCE_BUFFER_BYTES = 4096;

struct jpeg_context {
    jpeg_error_mgr errors;  // first: libjpeg hands it back as the whole context
    jpeg_progress_mgr progress;
    jpeg_source_mgr source;
    jmp_buf escape;
    decode_input* input = nullptr;
    bool source_started = false;
    bool exif_found = false;
    size_t exif_length = 0;
    uint8_t exif[EXIF_MAX_BYTES];
    JOCTET buffer[SOURCE_BUFFER_BYTES];
};

static jpeg_context* context_of(j_common_ptr cinfo) {
    return reinterpret_cast<jpeg_context*>(cinfo->err);
}

static void jpeg_fail(j_common_ptr cinfo) { longjmp(context_of(cinfo)->escape, 1); }

// Warnings about damaged data are borne as other readers bear them, but a
// file that ends early is refused: its missing rows are not in it.
static void jpeg_message(j_common_ptr cinfo, int level) {
    if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF) jpeg_fail(cinfo);
}

static void jpeg_count_scans(j_common_ptr cinfo) {
    if (!cinfo->is_decompressor) return;
    if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > JPEG_MAX_SCANS) jpeg_fail(cinfo);
}

// ------------------------------------------------------------- source
// libjpeg reads our input as its own file source reads a file: a buffer at
// a time, and past the end an end-of-image marker with the warning that the
// file ended early (which refuses it, above).

static void start_source(j_decompress_ptr cinfo) {
    context_of(reinterpret_cast<j_common_ptr>(cinfo))->source_started = false;
}

static boolean fill_source(j_decompress_ptr cinfo) {
    jpeg_context* context = context_of(reinterpret_cast<j_common_ptr>(cinfo));
    size_t n = context->input->read(context->buffer, SOURCE_BUFFER_BYTES);
    if (n == 0) {
        if (!context->source_started) ERREXIT(cinfo, JERR_INPUT_EMPTY);
        WARNMS(cinfo, JWRN_JPEG_EOF);
        context->buffer[0] = 0xFF;
        context->buffer[1] = JPEG_EOI;
        n = 2;
    }
    context->source.next_input_byte = context->buffer;
    context->source.bytes_in_buffer = n;
    context->source_started = true;
    return TRUE;
}

static void skip_source(j_decompress_ptr cinfo, long count) {
    jpeg_source_mgr* src = cinfo->src;
    if (count <= 0) return;
    while (static_cast<size_t>(count) > src->bytes_in_buffer) {
        count -= static_cast<long>(src->bytes_in_buffer);
        fill_source(cinfo);
    }
    src->next_input_byte += count;
    src->bytes_in_buffer -= static_cast<size_t>(count);
}

static void end_source(j_decompress_ptr) {}

static void use_input_source(j_decompress_ptr cinfo, jpeg_context* context, decode_input& input) {
    context->input = &input;
    context->source.init_source = start_source;
    context->source.fill_input_buffer = fill_source;
    context->source.skip_input_data = skip_source;
    context->source.resync_to_restart = jpeg_resync_to_restart;
    context->source.term_source = end_source;
    context->source.bytes_in_buffer = 0;
    context->source.next_input_byte = nullptr;
    cinfo->src = &context->source;
}

// ---------------------------------------------------------------- EXIF

static int next_byte(j_decompress_ptr cinfo) {
    jpeg_source_mgr* src = cinfo->src;
    // The source never suspends; at the input's end it supplies an end
    // marker (and the warning above).
    if (src->bytes_in_buffer == 0 && !src->fill_input_buffer(cinfo)) jpeg_fail(reinterpret_cast<j_common_ptr>(cinfo));
    --src->bytes_in_buffer;
    return *src->next_input_byte++;
}

// Keeps the first EXIF block's TIFF data and skips every other APP1 marker,
// so that no file can make us hold more than one marker's worth of bytes.
static boolean read_app1(j_decompress_ptr cinfo) {
    jpeg_context* context = context_of(reinterpret_cast<j_common_ptr>(cinfo));
    int length = next_byte(cinfo) << 8;
    length |= next_byte(cinfo);
    length -= 2;
    uint8_t header[6] = {};
    int i = 0;
    for (; i < length && i < 6; ++i) header[i] = static_cast<uint8_t>(next_byte(cinfo));
    const bool keep = !context->exif_found && i == 6 && memcmp(header, "Exif\0\0", 6) == 0;
    size_t kept = 0;
    for (; i < length; ++i) {
        const int byte = next_byte(cinfo);
        if (keep) context->exif[kept++] = static_cast<uint8_t>(byte);
    }
    if (keep) {
        context->exif_found = true;
        context->exif_length = kept;
    }
    return TRUE;
}

// Refused before anything is allocated: colour layouts we cannot turn into
// RGB and arithmetic coding, which no camera writes and which can describe a
// plain picture of any size in a few bytes.
static bool layout_supported(const jpeg_decompress_struct& cinfo) {
    if (cinfo.arith_code) return false;
    if (cinfo.num_components == 1) return cinfo.jpeg_color_space == JCS_GRAYSCALE;
    return cinfo.num_components == 3 &&
           (cinfo.jpeg_color_space == JCS_YCbCr || cinfo.jpeg_color_space == JCS_RGB);
}

// Kept free of objects with destructors: libjpeg leaves it by longjmp.
static bool read_jpeg(jpeg_decompress_struct* cinfo, jpeg_context* context, decode_input& input,
                      row_sink& sink) {
    if (setjmp(context->escape)) {
        // libjpeg refuses sides past its own maximum (65,500) while reading
        // the header: a declared size, judged as ours are.
        if (context->errors.msg_code == JERR_IMAGE_TOO_BIG) sink.failure = load_failure::too_large;
        return false;
    }
    jpeg_create_decompress(cinfo);
    cinfo->progress = &context->progress;
    use_input_source(cinfo, context, input);
    jpeg_set_marker_processor(cinfo, JPEG_APP0 + 1, read_app1);
    jpeg_read_header(cinfo, TRUE);
    if (!layout_supported(*cinfo)) {
        sink.failure = load_failure::unsupported;
        return false;
    }
    cinfo->out_color_space = JCS_RGB;
    // Judged here, from the header: jpeg_start_decompress sets up the rows
    // (and a progressive file's coefficients) for the declared size.
    const int orientation =
        context->exif_found ? exif_orientation(context->exif, context->exif_length) : 1;
    const int64_t pixels = static_cast<int64_t>(cinfo->image_width) * cinfo->image_height;
    if (!sink.begin(cinfo->image_width, cinfo->image_height, input,
                    min_bytes_at_ratio(pixels, JPEG_MAX_PIXELS_PER_BYTE), orientation))
        return false;
    jpeg_start_decompress(cinfo);
    if (cinfo->output_width != cinfo->image_width || cinfo->output_height != cinfo->image_height ||
        cinfo->output_components != 3)
        return false;
    while (cinfo->output_scanline < cinfo->output_height) {
        const JDIMENSION y = cinfo->output_scanline;
        JSAMPROW row = sink.row(y);
        if (jpeg_read_scanlines(cinfo, &row, 1) != 1) return false;
        sink.commit(y);
    }
    return true;
}

bl_image* decode_jpeg(decode_input& input, load_failure* failure) {
    std::unique_ptr<jpeg_context> context(new (std::nothrow) jpeg_context());
    if (!context) {
        *failure = load_failure::out_of_memory;
        return nullptr;
    }
    jpeg_decompress_struct cinfo;
    memset(&cinfo, 0, sizeof cinfo);
    cinfo.err = jpeg_std_error(&context->errors);
    context->errors.error_exit = jpeg_fail;
    context->errors.emit_message = jpeg_message;
    context->progress.progress_monitor = jpeg_count_scans;
    row_sink sink;
    const bool read = read_jpeg(&cinfo, context.get(), input, sink);
    jpeg_destroy_decompress(&cinfo);
    if (!read) {
        *failure = sink.failure;
        return nullptr;
    }
    return sink.release();
}
