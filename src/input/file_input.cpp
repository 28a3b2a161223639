// The file input: a movie in a file (possibly at an offset inside a larger
// file) or in memory, read through a ring that a background reader keeps
// filled in 64 KB chunks.
//
// Who touches what: the consumer side (ReadFrame, ReadDirect, SetBuffer,
// CloseInput) runs on the caller's thread and owns the consumer pointer; the
// producer side (ServiceInput) owns the producer pointer and only runs with
// the input lock held. Fill and free space change by atomic additions, so the
// consumer hands out bytes the producer already appended without the lock.
// Invariant outside the operations: fill + free space = buffer size, and
// consumer position + fill = file position.
#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "vemo/memory.h"
#include "vemo/movie_io.h"
#include "vemo/platform.h"
#include "vemo/timer.h"

namespace vemo {

namespace {

std::atomic<void (*)()> g_rate_wait_yield{nullptr};
std::atomic<InputSourcePtr (*)(const char*)> g_make_source{nullptr};

void NoLock(void*) {}
bool NoTryLock(void*) {
    return true;
}
void YieldSlice(void*) {
    platform::YieldThread();
}

class FileInput final : public MovieIO {
  public:
    // A file opened by name (owned) or given (not closed).
    FileInput(platform::File file, bool given, uint64_t base) noexcept
        : file_(file), handle_given_(given), base_offset_(base) {}
    // A movie in memory.
    FileInput(const uint8_t* data, size_t size) noexcept
        : in_memory_(true), memory_(data), memory_size_(size) {}
    // A source of the caller's.
    explicit FileInput(InputSourcePtr source) noexcept : source_(std::move(source)) {}
    ~FileInput() override { CloseSource(); }

    uint32_t ReadDirect(uint32_t offset, void* destination, uint32_t count) override;
    uint32_t ReadFrame(uint32_t frame, uint32_t offset, void* destination, uint32_t count) override;
    uint32_t GetBufferSize(uint32_t wanted) override;
    uint32_t SetBuffer(void* ring, uint32_t ring_size, uint32_t movie_limit,
                       uint32_t simulated_rate) override;
    int32_t ServiceInput() override;
    void CloseInput() override;
    uint32_t SuspendInput(uint32_t flags) override;

  private:
    // ------------------------------------------------ the byte source
    uint32_t SourceRead(void* destination, uint32_t count);
    bool SourceSeek(uint32_t movie_offset);
    void CloseSource();

    // Empties the ring (the lock is held or no other thread can reach it).
    void EmptyRing();
    // Bytes of the movie left after a movie offset (0 when past its end).
    uint32_t LeftAfter(uint32_t position) const {
        return movie_limit_ > position ? movie_limit_ - position : 0;
    }
    // Hands out ring bytes at the consumer pointer; returns how many.
    uint32_t CopyFromRing(uint8_t* destination, uint32_t count);
    // Keeps to the simulated rate after a read of n bytes that began at t0.
    void ApplySimulatedRate(uint32_t n, uint32_t t0);

    platform::File file_{};
    bool handle_given_ = false;
    bool closed_ = false;
    bool in_memory_ = false;
    const uint8_t* memory_ = nullptr;
    size_t memory_size_ = 0;
    uint64_t memory_position_ = 0;
    uint64_t base_offset_ = 0;
    InputSourcePtr source_;

    uint8_t* ring_start_ = nullptr;
    uint8_t* ring_end_ = nullptr;
    uint8_t* consumer_pointer_ = nullptr;
    uint8_t* producer_pointer_ = nullptr;
    uint32_t movie_limit_ = 0;
    uint32_t simulated_rate_ = 0;
    int32_t rate_debt_ = 0;
};

uint32_t FileInput::SourceRead(void* destination, uint32_t count) {
    if (closed_ || count == 0) return 0;
    if (in_memory_) {
        if (memory_position_ >= memory_size_) return 0;
        const uint64_t available = memory_size_ - memory_position_;
        const uint32_t n = available < count ? static_cast<uint32_t>(available) : count;
        std::memcpy(destination, memory_ + memory_position_, n);
        memory_position_ += n;
        return n;
    }
    if (!source_) return platform::ReadFile(file_, destination, count);
    // A source may deliver in pieces; only nothing at all ends the read.
    auto* out = static_cast<uint8_t*>(destination);
    uint32_t done = 0;
    while (done < count) {
        const uint32_t n = source_->Read(out + done, count - done);
        if (n == 0 || n > count - done) break;
        done += n;
    }
    return done;
}

bool FileInput::SourceSeek(uint32_t movie_offset) {
    if (closed_) return false;
    if (in_memory_) {
        memory_position_ = movie_offset;
        return true;
    }
    if (source_) return source_->Seek(movie_offset);
    return platform::SeekFile(file_, base_offset_ + movie_offset);
}

void FileInput::CloseSource() {
    if (closed_) return;
    closed_ = true;
    if (!in_memory_ && !handle_given_ && !source_) platform::CloseFile(file_);
    file_ = platform::File{};
    source_.reset();
}

void FileInput::EmptyRing() {
    const uint32_t size = buffer_size_.load();
    fill_.store(0);
    free_space_.store(size);
    consumer_pointer_ = ring_start_;
    producer_pointer_ = ring_start_;
}

uint32_t FileInput::CopyFromRing(uint8_t* destination, uint32_t count) {
    uint32_t delivered = 0;
    while (count > 0) {
        const uint32_t fill = fill_.load(std::memory_order_acquire);
        if (fill == 0) break;
        uint32_t m = std::min(fill, count);
        // The piece up to the ring end, then (when it wraps) the rest from the start.
        while (m > 0) {
            const uint32_t to_end = static_cast<uint32_t>(ring_end_ - consumer_pointer_);
            const uint32_t piece = std::min(m, to_end);
            std::memcpy(destination + delivered, consumer_pointer_, piece);
            consumer_pointer_ += piece;
            if (consumer_pointer_ >= ring_end_) consumer_pointer_ = ring_start_;
            fill_.fetch_sub(piece, std::memory_order_acq_rel);
            free_space_.fetch_add(piece, std::memory_order_acq_rel);
            consumer_position_.fetch_add(piece);
            delivered += piece;
            count -= piece;
            m -= piece;
        }
    }
    return delivered;
}

void FileInput::ApplySimulatedRate(uint32_t n, uint32_t t0) {
    if (simulated_rate_ == 0) return;
    const uint32_t owed = static_cast<uint32_t>(static_cast<uint64_t>(n) * 1000u / simulated_rate_);
    const uint32_t spent = Milliseconds() - t0;
    int64_t debt = static_cast<int64_t>(rate_debt_) + owed - spent;
    // A very slow device leaves a large overshoot; keep it within range.
    if (debt < INT32_MIN / 2) debt = INT32_MIN / 2;
    if (debt > INT32_MAX / 2) debt = INT32_MAX / 2;
    rate_debt_ = static_cast<int32_t>(debt);
    uint32_t last = Milliseconds();
    while (rate_debt_ > 0) {
        uint32_t now;
        do {
            if (auto* yield = g_rate_wait_yield.load()) {
                yield();
            } else {
                platform::YieldThread();
            }
            now = Milliseconds();
        } while (static_cast<int64_t>(now - last) < rate_debt_);
        rate_debt_ -= static_cast<int32_t>(now - last);
        last = now;
    }
}

uint32_t FileInput::ReadDirect(uint32_t offset, void* destination, uint32_t count) {
    if (count != 0 && destination == nullptr) return 0;
    LockInput();
    const uint32_t before = file_position_.load();
    if (offset != kCurrentPosition && offset != before) {
        if (!SourceSeek(offset)) {
            read_failed_.store(1);
            UnlockInput();
            return 0;
        }
        file_position_.store(offset);
    }
    const uint32_t n = SourceRead(destination, count);
    if (n < count) read_failed_.store(1);
    const uint32_t position = file_position_.load() + n;
    file_position_.store(position);
    consumer_position_.store(position);
    // Bytes read ahead no longer follow the consumer position.
    if (fill_.load() != 0 || consumer_pointer_ != producer_pointer_) EmptyRing();
    full_level_.store(std::min(LeftAfter(position), buffer_size_.load()));
    UnlockInput();
    return n;
}

uint32_t FileInput::ReadFrame(uint32_t, uint32_t offset, void* destination, uint32_t count) {
    // After a failed read the bytes read ahead before it are still handed
    // out; only the file is not touched again.
    if (count != 0 && destination == nullptr) return 0;
    const uint32_t start = Milliseconds();
    auto* out = static_cast<uint8_t*>(destination);
    uint32_t delivered = 0;
    bool locked = false;

    if (offset != kCurrentPosition && offset != consumer_position_.load()) {
        LockInput();
        locked = true;
        const uint32_t consumer = consumer_position_.load();
        const uint32_t file = file_position_.load();
        const uint32_t d = offset - consumer;
        if (consumer < offset && offset <= file && d <= fill_.load()) {
            // Inside the data read ahead: skip forward without touching the file.
            consumer_position_.store(offset);
            free_space_.fetch_add(d);
            fill_.fetch_sub(d);
            const uint32_t to_end = static_cast<uint32_t>(ring_end_ - consumer_pointer_);
            consumer_pointer_ = d < to_end ? consumer_pointer_ + d : ring_start_ + (d - to_end);
        } else {
            // After a failed read the file stays where it is, and so does
            // its position: a direct read still reads from there.
            if (!read_failed_.load()) {
                if (!SourceSeek(offset)) read_failed_.store(1);
                file_position_.store(offset);
            }
            consumer_position_.store(offset);
            EmptyRing();
        }
    }

    for (;;) {
        delivered += CopyFromRing(out + delivered, count - delivered);
        if (delivered == count) break;
        if (!locked) {
            // A chunk may arrive while we wait for the lock.
            LockInput();
            locked = true;
            continue;
        }
        if (read_failed_.load()) break;
        const uint32_t missing = count - delivered;
        const uint32_t t0 = Milliseconds();
        const uint32_t n = SourceRead(out + delivered, missing);
        if (n < missing) read_failed_.store(1);
        file_position_.fetch_add(n);
        consumer_position_.fetch_add(n);
        bytes_read_.fetch_add(n);
        delivered += n;
        ApplySimulatedRate(n, t0);
        read_time_.fetch_add(Milliseconds() - t0);
        break;
    }

    frame_read_time_.fetch_add(Milliseconds() - start);
    uint32_t level = std::min(LeftAfter(consumer_position_.load()), buffer_size_.load());
    const uint32_t fill = fill_.load();
    if (static_cast<uint64_t>(fill) + kInputChunk > level) level = fill;
    full_level_.store(level);
    if (locked) UnlockInput();
    return delivered;
}

uint32_t FileInput::GetBufferSize(uint32_t wanted) {
    constexpr uint32_t kLargest = 0xFFFFFFFFu & ~(kInputChunk - 1);
    if (wanted > kLargest) return kLargest;
    return (wanted + kInputChunk - 1) & ~(kInputChunk - 1);
}

uint32_t FileInput::SetBuffer(void* ring, uint32_t ring_size, uint32_t movie_limit,
                              uint32_t simulated_rate) {
    LockInput();
    uint32_t size = ring ? ring_size & ~(kInputChunk - 1) : 0;
    ring_start_ = size ? static_cast<uint8_t*>(ring) : nullptr;
    ring_end_ = ring_start_ ? ring_start_ + size : nullptr;
    // Bytes held in an earlier ring are dropped: read them again from the file.
    const uint32_t consumer = consumer_position_.load();
    if (file_position_.load() != consumer) {
        if (!SourceSeek(consumer)) read_failed_.store(1);
        file_position_.store(consumer);
    }
    buffer_size_.store(size);
    EmptyRing();
    movie_limit_ = movie_limit;
    simulated_rate_ = simulated_rate;
    rate_debt_ = 0;
    UnlockInput();
    return size;
}

int32_t FileInput::ServiceInput() {
    const bool busy_at_start = core_busy_.load() != 0;
    if (read_failed_.load() || suspended_.load()) {
        // Nothing will arrive: the ring counts as full as it is.
        full_level_.store(fill_.load());
        return 0;
    }
    if (lock_.try_lock == nullptr) {
        full_level_.store(fill_.load());
        YieldInput();
        return -1;
    }
    if (!lock_.try_lock(lock_.context)) {
        YieldInput();
        return -1;
    }
    int32_t result = 0;
    const uint32_t position = file_position_.load();
    if (ring_start_ != nullptr && free_space_.load(std::memory_order_acquire) >= kInputChunk &&
        LeftAfter(position) >= kInputChunk) {
        chunk_in_progress_.store(1);
        const uint32_t t0 = Milliseconds();
        const uint32_t n = SourceRead(producer_pointer_, kInputChunk);
        chunk_in_progress_.store(0);
        if (n < kInputChunk) read_failed_.store(1);
        bytes_read_.fetch_add(n);
        file_position_.store(position + n);
        producer_pointer_ += n;
        if (producer_pointer_ >= ring_end_) producer_pointer_ = ring_start_;
        free_space_.fetch_sub(n, std::memory_order_acq_rel);
        const uint32_t fill = fill_.fetch_add(n, std::memory_order_acq_rel) + n;
        if (fill > highest_fill_.load()) highest_fill_.store(fill);
        ApplySimulatedRate(n, t0);
        const uint32_t duration = Milliseconds() - t0;
        read_time_.fetch_add(duration);
        if (busy_at_start || core_busy_.load()) {
            busy_service_time_.fetch_add(duration);
        } else {
            idle_service_time_.fetch_add(duration);
        }
        result = static_cast<int32_t>(n);
    } else {
        full_level_.store(fill_.load());
    }
    UnlockInput();
    return result;
}

void FileInput::CloseInput() {
    LockInput();
    CloseSource();
    UnlockInput();
}

uint32_t FileInput::SuspendInput(uint32_t flags) {
    if (flags & kSuspendReading) {
        suspended_.store(1);
        if (flags & kSuspendAndSync) {
            // Waits for a chunk in progress to end.
            LockInput();
            UnlockInput();
        }
    } else if (flags & kResumeReading) {
        suspended_.store(0);
        if (flags & kSuspendAndSync) ServiceInput();
    }
    return suspended_.load();
}

}  // namespace

// ---------------------------------------------------------------- MovieIO

MovieIO::~MovieIO() = default;

void MovieIO::SetInputLock(const InputLock& lock) {
    lock_ = lock;
}

void MovieIO::LockInput() {
    if (lock_.lock) lock_.lock(lock_.context);
}

bool MovieIO::TryLockInput() {
    return lock_.try_lock != nullptr && lock_.try_lock(lock_.context);
}

void MovieIO::UnlockInput() {
    if (lock_.unlock) lock_.unlock(lock_.context);
}

void MovieIO::YieldInput() {
    if (lock_.yield) lock_.yield(lock_.context);
}

InputStatistics MovieIO::Statistics() const {
    InputStatistics s;
    s.bytes_read = bytes_read_.load();
    s.read_time = read_time_.load();
    s.frame_read_time = frame_read_time_.load();
    s.idle_service_time = idle_service_time_.load();
    s.busy_service_time = busy_service_time_.load();
    s.buffer_size = buffer_size_.load();
    s.highest_fill = highest_fill_.load();
    return s;
}

void* MovieIO::operator new(size_t size) {
    void* block = AllocateLibraryMemory(size);
    if (!block) throw std::bad_alloc();
    return block;
}

void* MovieIO::operator new(size_t size, const std::nothrow_t&) noexcept {
    return AllocateLibraryMemory(size);
}

void MovieIO::operator delete(void* block) noexcept {
    FreeLibraryMemory(block);
}

InputLock SingleThreadInputLock() {
    InputLock lock;
    lock.lock = NoLock;
    lock.try_lock = NoTryLock;
    lock.unlock = NoLock;
    lock.yield = YieldSlice;
    return lock;
}

MovieIOPtr OpenFileInput(const void* name_or_handle, uint32_t open_flags) {
    if (name_or_handle == nullptr) return nullptr;
    if (open_flags & kOpenFromHandle) {
        return OpenFileInputOnHandle(*static_cast<const intptr_t*>(name_or_handle));
    }
    return OpenFileInputByName(static_cast<const char*>(name_or_handle));
}

MovieIOPtr OpenFileInputByName(const char* name) {
    if (name == nullptr || *name == '\0') return nullptr;
    if (auto* make = g_make_source.load()) {
        InputSourcePtr source = make(name);
        return source ? OpenSourceInput(std::move(source)) : nullptr;
    }
    platform::File file = platform::OpenFileForReading(name);
    if (!file.valid()) return nullptr;
    MovieIOPtr io(new (std::nothrow) FileInput(file, false, 0));
    if (!io) platform::CloseFile(file);
    return io;
}

MovieIOPtr OpenFileInputOnHandle(intptr_t handle) {
    platform::File file{handle};
    if (!file.valid()) return nullptr;
    return MovieIOPtr(new (std::nothrow) FileInput(file, true, platform::TellFile(file)));
}

MovieIOPtr OpenMemoryInput(const void* data, size_t size) {
    if (data == nullptr && size != 0) return nullptr;
    return MovieIOPtr(new (std::nothrow) FileInput(static_cast<const uint8_t*>(data), size));
}

MovieIOPtr OpenSourceInput(InputSourcePtr source) {
    if (!source) return nullptr;
    return MovieIOPtr(new (std::nothrow) FileInput(std::move(source)));
}

void SetInputSourceForTesting(InputSourcePtr (*make)(const char* name)) {
    g_make_source.store(make);
}

void SetRateWaitYieldForTesting(void (*yield)()) {
    g_rate_wait_yield.store(yield);
}

}  // namespace vemo
