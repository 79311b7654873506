#include "gfx/image.h"

#include <cassert>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>

#include "core/console.h"
#include "core/memory_manager.h"
#include "lib/file_areas.h"

namespace {

void* Image_Alloc(size_t size, bool clear) { return MemoryManager::Alloc(size, __FILE__, __LINE__, clear); }

bool Image_SizeAllowed(int64_t w, int64_t h) { return w >= 1 && h >= 1 && w <= IMAGE_MAX_SIZE && h <= IMAGE_MAX_SIZE; }

// The size the halving loop of PNG_Load ends at.
void Image_HalvedSize(int32_t* w, int32_t* h)
{
    for (int32_t s = g_TextureScale; s >= 2 && *w >= 2 && *h >= 2; s /= 2) {
        *w /= 2;
        *h /= 2;
    }
}

// ---- PNG

struct PNGDecodeState {
    bool error;
    const uint8_t* data;
    size_t length;
    size_t position;
    int32_t width, height;
    png_structp png;
    png_infop info;
    png_infop endInfo;
    uint8_t* image;
    png_bytep* rows;
};

PNGDecodeState* g_PNGState = nullptr;

png_voidp PNG_MallocCallback(png_structp, png_alloc_size_t size) { return Image_Alloc(size, false); }
void PNG_FreeCallback(png_structp, png_voidp block) { MemoryManager::Free(block); }
// Errors go back to the recovery point; libpng's own text is not the engine's to print.
void PNG_ErrorCallback(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void PNG_WarningCallback(png_structp, png_const_charp) {}

void PNG_ReadCallback(png_structp png, png_bytep out, png_size_t count)
{
    auto* state = static_cast<PNGDecodeState*>(png_get_io_ptr(png));
    if (count > state->length - state->position) png_error(png, "read past the end");
    std::memcpy(out, state->data + state->position, count);
    state->position += count;
}

void PNG_DestroyState(PNGDecodeState* state)
{
    if (state->png) png_destroy_read_struct(&state->png, state->info ? &state->info : nullptr,
                                            state->endInfo ? &state->endInfo : nullptr);
    MemoryManager::Free(state->image);
    MemoryManager::Free(state->rows);
    MemoryManager::Free(state);
}

// Decodes state's data to 8-bit BGRA rows; with headerOnly only the size is read. Nothing here has a
// destructor: libpng's errors return by longjmp.
bool ReadPNG(PNGDecodeState* state, bool headerOnly)
{
    if (state->length < 8 || png_sig_cmp(state->data, 0, 8) != 0) {
        DebugConsole->Output("Not a PNG\n");
        return false;
    }
    state->position = 8;
    state->png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, state, PNG_ErrorCallback, PNG_WarningCallback,
                                          nullptr, PNG_MallocCallback, PNG_FreeCallback);
    if (!state->png) return false;
    state->info = png_create_info_struct(state->png);
    state->endInfo = png_create_info_struct(state->png);
    if (!state->info || !state->endInfo || setjmp(png_jmpbuf(state->png))) {
        state->error = true;
        DebugConsole->Output("ReadPNG :: a PNG error occured\n");
        return false;
    }
    png_structp png = state->png;
    png_infop info = state->info;
    png_set_user_limits(png, IMAGE_MAX_SIZE, IMAGE_MAX_SIZE);
    // No chunk can hold more than the data; and the ancillary chunks beside transparency mean nothing to
    // the pixels, so they are skipped unread.
    png_set_chunk_malloc_max(png, state->length);
    static const png_byte kSkipped[] = "bKGD\0cHRM\0eXIf\0gAMA\0hIST\0iCCP\0iTXt\0oFFs\0pCAL\0pHYs\0sBIT\0sCAL\0"
                                       "sPLT\0sRGB\0tEXt\0tIME\0zTXt";
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, 0);
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, kSkipped, int(sizeof kSkipped / 5));
    png_set_read_fn(png, state, PNG_ReadCallback);
    png_set_sig_bytes(png, 8);
    png_read_info(png, info);

    const int bitDepth = png_get_bit_depth(png, info);
    const int colourType = png_get_color_type(png, info);
    state->width = int32_t(png_get_image_width(png, info));
    state->height = int32_t(png_get_image_height(png, info));
    if (headerOnly) return true;

    // Every layout ends as 8-bit blue, green, red, alpha.
    if (bitDepth == 16) png_set_strip_16(png);
    if (colourType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    const bool transparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    if (transparency) png_set_tRNS_to_alpha(png);
    if (colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
    if (!(colourType & PNG_COLOR_MASK_ALPHA) && !transparency) png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    png_set_bgr(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);

    const size_t rowBytes = png_get_rowbytes(png, info);
    if (rowBytes != size_t(state->width) * 4) png_error(png, "unexpected row layout");
    state->image = static_cast<uint8_t*>(Image_Alloc(rowBytes * size_t(state->height), false));
    state->rows = static_cast<png_bytep*>(Image_Alloc(sizeof(png_bytep) * size_t(state->height), false));
    for (int32_t y = 0; y < state->height; ++y) state->rows[y] = state->image + rowBytes * size_t(y);
    png_read_image(png, state->rows);
    return true;
}

PNGDecodeState* PNG_NewState(const uint8_t* data, int32_t length)
{
    auto* state = static_cast<PNGDecodeState*>(Image_Alloc(sizeof(PNGDecodeState), true));
    state->data = data;
    state->length = data && length > 0 ? size_t(length) : 0;
    return state;
}

// ---- JPEG

struct JpegContext {
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    jpeg_source_mgr source;
    jmp_buf recovery;
    const uint8_t* data;
    size_t length;
    bool ranOut;
    uint8_t* line;
    uint32_t* pixels;
};

const JOCTET kJpegEnd[2] = {0xFF, JPEG_EOI};

void JPEG_ErrorExit(j_common_ptr info) { longjmp(reinterpret_cast<JpegContext*>(info->client_data)->recovery, 1); }
void JPEG_OutputMessage(j_common_ptr) {}
void JPEG_InitSource(j_decompress_ptr) {}
void JPEG_TermSource(j_decompress_ptr) {}

// Called only when the data is used up: an end marker finishes what was read.
boolean JPEG_FillInputBuffer(j_decompress_ptr info)
{
    auto* context = reinterpret_cast<JpegContext*>(info->client_data);
    context->ranOut = true;
    info->src->next_input_byte = kJpegEnd;
    info->src->bytes_in_buffer = 2;
    return TRUE;
}

void JPEG_SkipInputData(j_decompress_ptr info, long count)
{
    if (count <= 0) return;
    if (size_t(count) >= info->src->bytes_in_buffer) {
        JPEG_FillInputBuffer(info);
        return;
    }
    info->src->next_input_byte += count;
    info->src->bytes_in_buffer -= size_t(count);
}

JpegContext* JPEG_Open(const uint8_t* data, int32_t length)
{
    auto* context = static_cast<JpegContext*>(Image_Alloc(sizeof(JpegContext), true));
    context->data = data;
    context->length = data && length > 0 ? size_t(length) : 0;
    context->info.err = jpeg_std_error(&context->errors);
    context->errors.error_exit = JPEG_ErrorExit;
    context->errors.output_message = JPEG_OutputMessage;
    context->info.client_data = context;
    return context;
}

void JPEG_Close(JpegContext* context)
{
    jpeg_destroy_decompress(&context->info);
    MemoryManager::Free(context->line);
    MemoryManager::Free(context->pixels);
    MemoryManager::Free(context);
}

// Reads up to the image header; false when it cannot be had. Locals stay trivial: errors longjmp.
bool JPEG_ReadHeader(JpegContext* context)
{
    jpeg_create_decompress(&context->info);
    context->source.init_source = JPEG_InitSource;
    context->source.fill_input_buffer = JPEG_FillInputBuffer;
    context->source.skip_input_data = JPEG_SkipInputData;
    context->source.resync_to_restart = jpeg_resync_to_restart;
    context->source.term_source = JPEG_TermSource;
    context->source.next_input_byte = context->data;
    context->source.bytes_in_buffer = context->length;
    context->info.src = &context->source;
    int result;
    do {
        result = jpeg_read_header(&context->info, FALSE);
    } while (result == JPEG_HEADER_TABLES_ONLY && !context->ranOut);
    if (result != JPEG_HEADER_OK) return false;
    return Image_SizeAllowed(context->info.image_width, context->info.image_height);
}

uint32_t* JPEG_Run(JpegContext* context, int32_t* width, int32_t* height)
{
    if (setjmp(context->recovery)) return nullptr;
    if (!JPEG_ReadHeader(context)) return nullptr;
    j_decompress_ptr info = &context->info;
    jpeg_start_decompress(info);
    const int32_t w = int32_t(info->output_width), h = int32_t(info->output_height);
    const int components = info->output_components;
    if (!Image_SizeAllowed(w, h)) return nullptr;
    context->line = static_cast<uint8_t*>(Image_Alloc(size_t(w) * size_t(components), false));
    context->pixels = static_cast<uint32_t*>(Image_Alloc(size_t(w) * size_t(h) * 4, true));
    while (info->output_scanline < info->output_height) {
        const int32_t y = int32_t(info->output_scanline);
        JSAMPROW row = context->line;
        if (jpeg_read_scanlines(info, &row, 1) != 1) return nullptr;
        uint32_t* out = context->pixels + size_t(y) * size_t(w);
        const uint8_t* p = context->line;
        for (int32_t x = 0; x < w; ++x, p += components) {
            switch (components) {
            case 1: out[x] = 0xFF000000 | uint32_t(p[0]) * 0x010101; break;
            case 3: out[x] = 0xFF000000 | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]; break;
            case 4: out[x] = uint32_t(p[3]) << 24 | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]; break;
            default: break;
            }
        }
    }
    // A file cut short decodes with an end marker inserted; the result is refused all the same.
    if (context->ranOut) return nullptr;
    jpeg_finish_decompress(info);
    *width = w;
    *height = h;
    uint32_t* pixels = context->pixels;
    context->pixels = nullptr;
    return pixels;
}

// ---- GIF

struct GifReader {
    const uint8_t* data;
    size_t length;
    size_t position;
};

int GIF_ReadCallback(GifFileType* gif, GifByteType* out, int count)
{
    auto* reader = static_cast<GifReader*>(gif->UserData);
    if (count <= 0) return 0;
    size_t n = reader->length - reader->position;
    if (size_t(count) < n) n = size_t(count);
    std::memcpy(out, reader->data + reader->position, n);
    reader->position += n;
    return int(n);
}

// Walks the blocks before the decoder allocates: every frame's rectangle must be within the size limit,
// and all frames together within one largest image.
bool GIF_CheckFrames(const uint8_t* data, size_t length)
{
    if (length < 13) return false;
    if (!Image_SizeAllowed(data[6] | data[7] << 8, data[8] | data[9] << 8)) return false;
    size_t p = 13;
    if (data[10] & 0x80) p += size_t(3) << ((data[10] & 7) + 1);
    int64_t total = 0;
    auto skipSubBlocks = [&]() {
        while (p < length && data[p] != 0) p += size_t(data[p]) + 1;
        ++p;
    };
    while (p < length) {
        const uint8_t kind = data[p++];
        if (kind == 0x3B) return true;
        if (kind == 0x21) {
            ++p;
            skipSubBlocks();
        } else if (kind == 0x2C) {
            if (p + 9 > length) return true;
            const int64_t w = data[p + 4] | data[p + 5] << 8, h = data[p + 6] | data[p + 7] << 8;
            if (w > IMAGE_MAX_SIZE || h > IMAGE_MAX_SIZE) return false;
            total += w * h;
            if (total > int64_t(IMAGE_MAX_SIZE) * IMAGE_MAX_SIZE) return false;
            const uint8_t flags = data[p + 8];
            p += 9;
            if (flags & 0x80) p += size_t(3) << ((flags & 7) + 1);
            ++p;
            skipSubBlocks();
        } else {
            // The decoder refuses it.
            return true;
        }
    }
    return true;
}

}  // namespace

// ---- PNG

uint8_t* PNG_Load(const uint8_t* data, int32_t length, int32_t* width, int32_t* height, bool halve)
{
    // The held image is returned as it is: callers free before decoding the next one.
    assert(g_PNGState == nullptr);
    if (!g_PNGState) {
        g_PNGState = PNG_NewState(data, length);
        if (!ReadPNG(g_PNGState, false)) {
            PNG_DestroyState(g_PNGState);
            g_PNGState = nullptr;
            if (width) *width = -1;
            if (height) *height = -1;
            return nullptr;
        }
        if (halve) {
            int32_t w = g_PNGState->width, h = g_PNGState->height;
            auto* pixels = reinterpret_cast<uint32_t*>(g_PNGState->image);
            for (int32_t s = g_TextureScale; s >= 2 && w >= 2 && h >= 2; s /= 2) {
                PNG_HalveImage(w / 2, h / 2, pixels, w, h, pixels);
                w /= 2;
                h /= 2;
            }
            g_PNGState->width = w;
            g_PNGState->height = h;
        }
    }
    if (width) *width = g_PNGState->width;
    if (height) *height = g_PNGState->height;
    return g_PNGState->image;
}

void PNG_Free()
{
    if (!g_PNGState) return;
    PNG_DestroyState(g_PNGState);
    g_PNGState = nullptr;
}

bool PNG_GetSize(const uint8_t* data, int32_t length, int32_t* width, int32_t* height, bool halve)
{
    PNGDecodeState* state = PNG_NewState(data, length);
    const bool ok = ReadPNG(state, true);
    int32_t w = ok ? state->width : -1, h = ok ? state->height : -1;
    PNG_DestroyState(state);
    if (ok && halve) Image_HalvedSize(&w, &h);
    if (width) *width = w;
    if (height) *height = h;
    return ok;
}

void PNG_HalveImage(int32_t newWidth, int32_t newHeight, uint32_t* destination, int32_t sourceWidth,
                    int32_t sourceHeight, const uint32_t* source)
{
    if (newWidth <= 0 || newHeight <= 0 || sourceWidth <= 0 || sourceHeight <= 0) return;
    const int64_t fx = int64_t(sourceWidth) * 65536 / newWidth;
    const int64_t fy = int64_t(sourceHeight & 0xFFFF) * 65536 / newHeight;
    for (int32_t y = 0; y < newHeight; ++y) {
        const int64_t sy = (y * fy) >> 16;
        const int64_t sy1 = sy + 1 < sourceHeight ? sy + 1 : sy;
        for (int32_t x = 0; x < newWidth; ++x) {
            const int64_t sx = (x * fx) >> 16;
            const int64_t sx1 = sx + 1 < sourceWidth ? sx + 1 : sx;
            const uint32_t a = source[sy * sourceWidth + sx], b = source[sy * sourceWidth + sx1];
            const uint32_t c = source[sy1 * sourceWidth + sx], d = source[sy1 * sourceWidth + sx1];
            uint32_t out = 0;
            for (int shift = 0; shift < 32; shift += 8) {
                const uint32_t sum = ((a >> shift) & 0xFF) + ((b >> shift) & 0xFF) + ((c >> shift) & 0xFF) +
                                     ((d >> shift) & 0xFF);
                out |= (sum / 4) << shift;
            }
            destination[int64_t(y) * newWidth + x] = out;
        }
    }
}

// ---- JPEG

uint32_t* JPEG_Decode(const uint8_t* data, int32_t length, int32_t* width, int32_t* height)
{
    if (width) *width = -1;
    if (height) *height = -1;
    JpegContext* context = JPEG_Open(data, length);
    int32_t w = -1, h = -1;
    uint32_t* pixels = JPEG_Run(context, &w, &h);
    JPEG_Close(context);
    if (pixels) {
        if (width) *width = w;
        if (height) *height = h;
    }
    return pixels;
}

bool JPEG_GetSize(const uint8_t* data, int32_t length, int32_t* width, int32_t* height)
{
    JpegContext* context = JPEG_Open(data, length);
    bool ok = false;
    if (!setjmp(context->recovery)) ok = JPEG_ReadHeader(context);
    const int32_t w = ok ? int32_t(context->info.image_width) : -1, h = ok ? int32_t(context->info.image_height) : -1;
    JPEG_Close(context);
    if (width) *width = w;
    if (height) *height = h;
    return ok;
}

// ---- GIF

uint32_t* GIF_Decode(const uint8_t* data, int32_t length, int32_t* width, int32_t* height)
{
    if (width) *width = -1;
    if (height) *height = -1;
    if (!data || length <= 0 || !GIF_CheckFrames(data, size_t(length))) return nullptr;
    GifReader reader{data, size_t(length), 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&reader, GIF_ReadCallback, &error);
    if (!gif) return nullptr;
    uint32_t* pixels = nullptr;
    if (DGifSlurp(gif) == GIF_OK && gif->ImageCount >= 1 && Image_SizeAllowed(gif->SWidth, gif->SHeight)) {
        const SavedImage& image = gif->SavedImages[0];
        const ColorMapObject* map = image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : gif->SColorMap;
        if (map && map->Colors && image.RasterBits) {
            GraphicsControlBlock control;
            int transparent = NO_TRANSPARENT_COLOR;
            if (DGifSavedExtensionToGCB(gif, 0, &control) == GIF_OK) transparent = control.TransparentColor;
            const int32_t w = gif->SWidth, h = gif->SHeight;
            pixels = static_cast<uint32_t*>(Image_Alloc(size_t(w) * size_t(h) * 4, true));
            const GifImageDesc& desc = image.ImageDesc;
            for (int32_t iy = 0; iy < desc.Height; ++iy) {
                const int64_t y = int64_t(desc.Top) + iy;
                if (y >= h) break;
                for (int32_t ix = 0; ix < desc.Width; ++ix) {
                    const int64_t x = int64_t(desc.Left) + ix;
                    if (x >= w) break;
                    const int index = image.RasterBits[int64_t(iy) * desc.Width + ix];
                    // Indexes past the map stay transparent black.
                    if (index >= map->ColorCount) continue;
                    const GifColorType& c = map->Colors[index];
                    const uint32_t alpha = index == transparent ? 0 : 0xFF000000;
                    pixels[y * w + x] = alpha | uint32_t(c.Red) << 16 | uint32_t(c.Green) << 8 | c.Blue;
                }
            }
            if (width) *width = w;
            if (height) *height = h;
        }
    }
    DGifCloseFile(gif, &error);
    return pixels;
}

bool GIF_GetSize(const uint8_t* data, int32_t length, int32_t* width, int32_t* height)
{
    // The decoder looks at the first three bytes of the signature only; so does this.
    const bool ok = data && length >= 13 && std::memcmp(data, "GIF", 3) == 0 &&
                    Image_SizeAllowed(data[6] | data[7] << 8, data[8] | data[9] << 8);
    if (width) *width = ok ? data[6] | data[7] << 8 : -1;
    if (height) *height = ok ? data[8] | data[9] << 8 : -1;
    return ok;
}

// ---- PNG writing

namespace {

struct PNGWriteState {
    FILE* file;
    png_structp png;
    png_infop info;
    png_bytep* rows;
    const char* stage;
};

void WritePNG_WriteCallback(png_structp png, png_bytep bytes, png_size_t count)
{
    auto* state = static_cast<PNGWriteState*>(png_get_io_ptr(png));
    if (!state->file) return;
    if (std::fwrite(bytes, 1, count, state->file) != count) png_error(png, "short write");
}
void WritePNG_FlushCallback(png_structp) {}

// Locals stay trivial: libpng's errors return by longjmp.
bool WritePNG_Run(PNGWriteState* state, const uint8_t* pixels, int32_t width, int32_t height)
{
    state->png = png_create_write_struct_2(PNG_LIBPNG_VER_STRING, state, PNG_ErrorCallback, PNG_WarningCallback,
                                           nullptr, PNG_MallocCallback, PNG_FreeCallback);
    if (!state->png) {
        DebugConsole->Output("[write_png_file] png_create_write_struct failed\n");
        return false;
    }
    state->info = png_create_info_struct(state->png);
    if (!state->info) {
        DebugConsole->Output("[write_png_file] png_create_info_struct failed\n");
        return false;
    }
    state->stage = "[write_png_file] Error during init_io\n";
    if (setjmp(png_jmpbuf(state->png))) {
        DebugConsole->Output("%s", state->stage);
        return false;
    }
    png_set_write_fn(state->png, state, WritePNG_WriteCallback, WritePNG_FlushCallback);
    state->stage = "[write_png_file] Error during writing header\n";
    png_set_IHDR(state->png, state->info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB_ALPHA,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(state->png, state->info);
    state->stage = "[write_png_file] Error during writing bytes\n";
    state->rows = static_cast<png_bytep*>(Image_Alloc(sizeof(png_bytep) * size_t(height), false));
    for (int32_t y = 0; y < height; ++y) state->rows[y] = const_cast<uint8_t*>(pixels) + size_t(y) * size_t(width) * 4;
    png_write_image(state->png, state->rows);
    state->stage = "[write_png_file] Error during end of write\n";
    png_write_end(state->png, nullptr);
    return true;
}

}  // namespace

bool write_png_file(const char* name, const uint8_t* pixels, int32_t width, int32_t height)
{
    if (!name || !pixels || !Image_SizeAllowed(width, height)) return false;
    char path[2048];
    if (!SaveArea_ResolvePath(path, sizeof path, name)) return false;
    FilePath_CreateParentDirectory(path);
    FILE* file = File_OpenUtf8(path, "wb");
    if (!file) return false;
    auto* state = static_cast<PNGWriteState*>(Image_Alloc(sizeof(PNGWriteState), true));
    state->file = file;
    bool ok = WritePNG_Run(state, pixels, width, height);
    if (state->png) png_destroy_write_struct(&state->png, state->info ? &state->info : nullptr);
    MemoryManager::Free(state->rows);
    ok = std::fclose(file) == 0 && ok;
    MemoryManager::Free(state);
    return ok;
}
