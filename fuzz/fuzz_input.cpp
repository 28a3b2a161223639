// Drives the file input with random ring sizes, movie limits, offsets and
// counts over a movie held in memory, and checks that every byte handed out
// is the movie's byte at that offset and that nothing reads out of bounds.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "vemo/movie_io.h"

namespace {

struct Reader {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    uint32_t Next(uint32_t bits) {
        uint32_t v = 0;
        for (uint32_t i = 0; i < (bits + 7) / 8; ++i) v = v << 8 | (at < size ? data[at++] : 0);
        return bits >= 32 ? v : v & ((1u << bits) - 1);
    }
    bool Done() const { return at >= size; }
};

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    Reader ops{data, size};
    // A movie of random size (up to a few read-ahead chunks more than the
    // largest ring) whose bytes differ from offset to offset.
    const uint32_t movie_size = ops.Next(20) % 700000;
    static std::vector<uint8_t> pattern;
    if (pattern.empty()) {
        pattern.resize(700000);
        for (size_t i = 0; i < pattern.size(); ++i)
            pattern[i] = static_cast<uint8_t>(i * 131 + (i >> 9) * 7 + (i >> 17));
    }
    const uint8_t* movie = pattern.data();
    auto io = vemo::OpenMemoryInput(movie, movie_size);
    if (!io) return 0;
    io->SetInputLock(vemo::SingleThreadInputLock());

    // The ring is sized exactly, so that a write past it is caught, and left
    // unset: zeroing up to a quarter of a megabyte for every input (and the
    // page faults after the allocator hands it back) cost most of each run.
    const uint32_t chunks = ops.Next(3) % 5;
    const uint32_t ring_size = chunks * vemo::kInputChunk + ops.Next(8);
    std::unique_ptr<uint8_t[]> ring(ring_size ? new uint8_t[ring_size] : nullptr);
    // The movie limit may lie before, at or after the end of the data.
    const uint32_t limit = ops.Next(20);
    io->SetBuffer(ring.get(), ring_size, limit, 0);
    static std::vector<uint8_t> out(1 << 18);

    for (int step = 0; step < 64 && !ops.Done(); ++step) {
        const uint32_t op = ops.Next(3);
        const uint32_t offset = ops.Next(1) ? vemo::kCurrentPosition : ops.Next(20);
        const uint32_t count = ops.Next(18);
        const uint32_t expected_at =
            offset == vemo::kCurrentPosition ? io->ConsumerPosition() : offset;
        switch (op) {
            case 0:
            case 1:
            case 2: {
                const bool failed_before = io->ReadFailed();
                const uint32_t fill_before = io->Fill();
                const uint32_t n = io->ReadFrame(0, offset, out.data(), count);
                Check(n <= count);
                // After a failed read only what was read ahead before it is
                // handed out; nothing more comes from the file.
                if (failed_before) Check(n <= fill_before);
                if (n > 0) {
                    Check(static_cast<uint64_t>(expected_at) + n <= movie_size);
                    Check(std::memcmp(out.data(), movie + expected_at, n) == 0);
                }
                if (n < count) Check(io->ReadFailed());
                break;
            }
            case 3:
            case 4: {
                const int32_t r = io->ServiceInput();
                Check(r == 0 || r == -1 || (r > 0 && r <= static_cast<int32_t>(vemo::kInputChunk)));
                break;
            }
            case 5: {
                const uint32_t file_at =
                    offset == vemo::kCurrentPosition ? io->FilePosition() : offset;
                const uint32_t n = io->ReadDirect(offset, out.data(), count);
                Check(n <= count);
                if (n > 0) Check(std::memcmp(out.data(), movie + file_at, n) == 0);
                break;
            }
            case 6:
                io->SuspendInput(ops.Next(1) ? vemo::kSuspendReading : vemo::kResumeReading);
                break;
            default:
                io->GetBufferSize(ops.Next(32));
                break;
        }
        Check(io->Fill() + io->FreeSpace() == io->BufferSize());
        Check(io->Fill() <= io->BufferSize());
    }
    io->CloseInput();
    return 0;
}
