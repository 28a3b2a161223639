// A track part of arbitrary bytes, decoded at an arbitrary rate, channel
// count and variant taken from the first bytes of the input.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "vemo/audio_decoder.h"

namespace {

class CountSink : public vemo::AudioSink {
  public:
    void AppendAudio(const uint8_t* bytes, uint32_t count) override {
        if (count) total += bytes[0] + bytes[count - 1];
        total += count;
    }
    uint64_t total = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const uint32_t rate = static_cast<uint32_t>(data[0] | data[1] << 8);
    const uint32_t channels = (data[2] & 1) + 1;
    const bool dct = (data[2] & 2) != 0;
    const bool two_parts = (data[2] & 4) != 0;
    vemo::AudioDecoder* decoder = vemo::OpenAudioDecoder(rate, channels, dct);
    if (!decoder) return 0;
    // Copy into an exactly sized buffer so that any read past it is caught.
    const size_t length = size - 3;
    std::vector<uint8_t> part(data + 3, data + size);
    CountSink sink;
    const size_t first = two_parts ? length / 2 : length;
    vemo::DecodeAudioPart(decoder, part.data(), static_cast<uint32_t>(first), &sink);
    if (two_parts) {
        std::vector<uint8_t> second(part.begin() + static_cast<std::ptrdiff_t>(first), part.end());
        vemo::DecodeAudioPart(decoder, second.data(), static_cast<uint32_t>(second.size()), &sink);
    }
    vemo::CloseAudioDecoder(decoder);
    return 0;
}
