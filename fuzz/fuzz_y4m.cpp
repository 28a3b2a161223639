// Reads random bytes as the encoder's YUV4MPEG2 input: the stream header and
// up to a few frames. Checks that every frame read has the planes of the
// header's size and that a failed read says why (or ends the stream).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "vemo/media_input.h"

namespace {

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!file) return 0;
    vemo::encode::Y4mReader reader;
    std::string error;
    if (!reader.Open(file, &error)) {
        Check(!error.empty());
        std::fclose(file);
        return 0;
    }
    Check(reader.width >= 1 && reader.width <= 4096 && reader.height >= 1 &&
          reader.height <= 8192 && reader.rate_num > 0 && reader.rate_den > 0);
    const size_t luma = size_t{reader.width} * reader.height;
    const size_t chroma =
        reader.mono ? 0 : size_t{(reader.width + 1) / 2} * ((reader.height + 1) / 2);
    std::vector<uint8_t> y, cb, cr;
    for (int frame = 0; frame < 8; ++frame) {
        if (!reader.ReadFrame(&y, &cb, &cr, &error)) break;
        Check(error.empty());
        Check(y.size() == luma && cb.size() == chroma && cr.size() == chroma);
        Check(luma + 2 * chroma <= size);
    }
    std::fclose(file);
    return 0;
}
