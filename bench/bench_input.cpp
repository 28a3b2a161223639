// Reading a large movie file ahead: frame-sized reads through the ring, with
// the consumer topping the ring up itself or with the background reader
// thread doing it, and, for comparison, every frame read directly.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "vemo/movie_io.h"
#include "vemo/service_thread.h"

namespace {

constexpr uint32_t kMovieBytes = 32u << 20;
constexpr uint32_t kFrameBytes = 24000;
constexpr uint32_t kRingBytes = 16 * vemo::kInputChunk;

const std::string& MovieFile() {
    static std::string path = [] {
        std::string p = "/tmp/vemo-bench-input.bin";
        std::FILE* f = std::fopen(p.c_str(), "wb");
        std::vector<unsigned char> block(1 << 20);
        for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<unsigned char>(i * 31);
        for (uint32_t written = 0; f && written < kMovieBytes; written += 1u << 20)
            std::fwrite(block.data(), 1, block.size(), f);
        if (f) std::fclose(f);
        return p;
    }();
    return path;
}

// mode 0: the consumer runs ServiceInput; 1: the background reader; 2: no ring.
void ReadMovie(benchmark::State& state) {
    const int mode = static_cast<int>(state.range(0));
    std::vector<unsigned char> ring(kRingBytes), frame(kFrameBytes);
    for (auto _ : state) {
        auto io = vemo::OpenFileInputByName(MovieFile().c_str());
        if (!io) {
            state.SkipWithError("cannot open the movie file");
            return;
        }
        vemo::ServiceClient client;
        vemo::SetupReaderClient(&client, io.get());
        if (mode == 1) {
            vemo::RegisterServiceClient(&vemo::BackgroundReaderThread(),
                                        vemo::kBackgroundReaderRate, &client);
        }
        io->SetInputLock(vemo::ClientInputLock(&client));
        io->SetBuffer(mode == 2 ? nullptr : ring.data(), mode == 2 ? 0 : kRingBytes, kMovieBytes,
                      0);
        for (uint32_t at = 0; at + kFrameBytes <= kMovieBytes; at += kFrameBytes) {
            if (mode == 0 && io->Fill() < kRingBytes / 2) {
                while (io->ServiceInput() > 0 && io->Fill() < kRingBytes - vemo::kInputChunk) {
                }
            }
            benchmark::DoNotOptimize(io->ReadFrame(0, at, frame.data(), kFrameBytes));
        }
        if (mode == 1) vemo::RemoveServiceClient(&vemo::BackgroundReaderThread(), &client, true);
        io->CloseInput();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kMovieBytes);
}
BENCHMARK(ReadMovie)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
