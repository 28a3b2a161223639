// Sound service throughput: ring appends and hand-over of one second of PCM
// into a device, 16-bit and converted to 8-bit.
#include <benchmark/benchmark.h>

#include <vector>

#include "vemo/sound_driver.h"

namespace {

// A device that takes every chunk at once.
class SinkDriver : public vemo::SoundDriver {
  public:
    explicit SinkDriver(uint32_t chunk) : buffer_(chunk) {
        chunk_bytes = chunk;
        alignment_mask = 0xFFFFFFFFu;
        on = 1;
    }
    ~SinkDriver() override { CloseSound(); }
    int SoundReady() override { return 1; }
    int GetSoundChunk(uint8_t** chunk, uint32_t* size) override {
        *chunk = buffer_.data();
        *size = static_cast<uint32_t>(buffer_.size());
        return 1;
    }
    int CommitSoundChunk(uint32_t n) override {
        committed_ += n;
        return 1;
    }
    void SetSoundVolume(uint32_t) override {}
    void SetSoundPan(uint32_t) override {}
    int PauseSound(int pause) override { return pause != 0; }
    int SetSoundOn(int o) override { return o != 0; }
    void CloseSound() override {}
    uint64_t committed_ = 0;

  private:
    std::vector<uint8_t> buffer_;
};

void ServiceOneSecond(benchmark::State& state, bool eight_bit) {
    const uint32_t second = 48000 * 4;  // 48000 Hz 16-bit stereo
    SinkDriver driver(eight_bit ? 4864 : 9728);
    driver.eight_bit_output = eight_bit ? 1 : 0;
    driver.end_of_sound_frame = 1 << 30;
    driver.ring.Allocate(vemo::SoundRing::SizeForTrack(second));
    std::vector<uint8_t> frame(second / 25, 0x5A);
    vemo::SoundDriver* tracks[] = {&driver};
    for (auto _ : state) {
        for (int f = 0; f < 25; ++f) {
            driver.ring.Append(frame.data(), static_cast<uint32_t>(frame.size()));
            vemo::ServiceSoundTracks(tracks, 1, 2);
        }
        benchmark::DoNotOptimize(driver.committed_);
    }
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
