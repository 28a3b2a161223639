// Fuzzes the frame decoder: the first 6 bytes choose the picture size and the
// flags, the rest is the video part (decoded twice, so that the second frame
// predicts from the first).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "vemo/container.h"
#include "vemo/frame_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6) return 0;
    const uint32_t width = 1 + data[0] % 96;
    const uint32_t height = 1 + data[1] % 80;
    const uint8_t f = data[2];
    uint32_t open_flags = 0;
    if (f & 1) open_flags |= vemo::kVideoOldVersion;
    if (f & 2) open_flags |= vemo::kVideoGrayscale;
    if (f & 4) open_flags |= vemo::kVideoAlpha;
    const uint32_t header_flags = (f & 8) ? vemo::kHeaderAlpha : 0;
    const bool all_key = (f & 16) != 0;
    // The played width may be up to twice the picture width.
    const uint32_t played = width * ((f & 32) ? 2 : 1);
    const uint32_t split = static_cast<uint32_t>(data[3] | data[4] << 8);
    data += 6;
    size -= 6;

    vemo::FrameDecoderSettings settings;
    settings.width = width;
    settings.height = height;
    settings.all_key_frames = all_key;
    settings.open_flags = open_flags;
    settings.header_flags = header_flags;
    settings.played_width = played;
    vemo::FrameDecoder decoder;
    if (!decoder.Open(settings)) return 0;
    // Exact copies, so that any read past a part is caught.
    const size_t first = size ? split % (size + 1) : 0;
    std::vector<uint8_t> a(data, data + first), b(data + first, data + size);
    decoder.DecodeVideoPart(a.data(), static_cast<uint32_t>(a.size()), true);
    decoder.DecodeVideoPart(b.data(), static_cast<uint32_t>(b.size()), false);
    const size_t map_bytes = size_t{decoder.map_stride()} * decoder.map_rows();
    for (size_t i = 0; i < map_bytes + 16; ++i)
        if (decoder.change_map()[i] > (i < map_bytes ? 1 : 0)) __builtin_trap();
    return 0;
}
