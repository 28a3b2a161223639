// Sound service throughput: ring appends and hand-over of one second of PCM
// into a device, 16-bit and converted to 8-bit.
#include <benchmark/benchmark.h>

#include <vector>

#include "vemo/sound_driver.h"

namespace {

// A device that takes every chunk at once.
struct Sink {
    std::vector<uint8_t> buffer;
    uint64_t committed = 0;
};

Sink* AsSink(vemo::SoundDevice* device) {
    return reinterpret_cast<Sink*>(device);
}

const vemo::SoundBackEnd kSinkBackEnd = {
    "sink",
    0,
    nullptr,
    [](vemo::SoundDevice*) { return 1; },
    [](vemo::SoundDevice* d, uint8_t** chunk, uint32_t* size) {
        *chunk = AsSink(d)->buffer.data();
        *size = static_cast<uint32_t>(AsSink(d)->buffer.size());
        return 1;
    },
    [](vemo::SoundDevice* d, uint32_t n) {
        AsSink(d)->committed += n;
        return 1;
    },
    [](vemo::SoundDevice*, uint32_t) {},
    [](vemo::SoundDevice*, uint32_t) {},
    [](vemo::SoundDevice*, int pause) { return pause != 0 ? 1 : 0; },
    [](vemo::SoundDevice*, int on) { return on != 0 ? 1 : 0; },
    [](vemo::SoundDevice*) {},
    nullptr,
    nullptr,
    [](vemo::SoundDevice*) { return 0u; },
};

void ServiceOneSecond(benchmark::State& state, bool eight_bit) {
    const uint32_t second = 48000 * 4;  // 48000 Hz 16-bit stereo
    Sink sink;
    sink.buffer.resize(eight_bit ? 4864 : 9728);
    vemo::SoundTrack track;
    track.back_end = &kSinkBackEnd;
    track.device = reinterpret_cast<vemo::SoundDevice*>(&sink);
    track.device_info.chunk_bytes = static_cast<uint32_t>(sink.buffer.size());
    track.eight_bit_output = eight_bit ? 1 : 0;
    track.end_of_sound_frame = 1 << 30;
    track.ring.Allocate(vemo::SoundRing::SizeForTrack(second));
    std::vector<uint8_t> frame(second / 25, 0x5A);
    vemo::SoundTrack* tracks[] = {&track};
    for (auto _ : state) {
        for (int f = 0; f < 25; ++f) {
            track.ring.Append(frame.data(), static_cast<uint32_t>(frame.size()));
            vemo::ServiceSoundTracks(tracks, 1, 2);
        }
        benchmark::DoNotOptimize(sink.committed);
    }
    track.device = nullptr;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * second);
}

void BM_ServiceSound16(benchmark::State& state) {
    ServiceOneSecond(state, false);
}
void BM_ServiceSound8(benchmark::State& state) {
    ServiceOneSecond(state, true);
}
BENCHMARK(BM_ServiceSound16);
BENCHMARK(BM_ServiceSound8);

}  // namespace
