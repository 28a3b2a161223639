// Stream input: the object through which the stream core gets movie bytes.
//
// A MovieIO hides the movie's bytes behind seven operations (kept in this
// order as virtual functions). The file input reads a movie that lies in a
// file, possibly at an offset inside a larger file, or in memory, through a
// ring-shaped read buffer that the background reader keeps filled in 64 KB
// chunks while the caller plays. It can slow its reads down to a simulated
// transfer rate and keeps the input statistics.
//
// Threads: ReadDirect, ReadFrame, GetBufferSize, SetBuffer, CloseInput and
// SuspendInput run on the caller's thread; ServiceInput runs on the
// background reader or on the caller's thread. The input lock (installed with
// SetInputLock, normally the reader registration's mutex) serialises file
// access and the ring pointers: ServiceInput only tries it, the others wait
// for it. ReadFrame hands out bytes already in the ring without the lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "vemo/flags.h"

namespace vemo {

// Open flag: the source is an already open file handle positioned at the
// movie's first byte (its current position becomes the base offset).
constexpr uint32_t kOpenFromHandle = kOpenHandle;

// Offset for ReadDirect and ReadFrame: continue where the last read ended.
constexpr uint32_t kCurrentPosition = 0xFFFFFFFFu;

// Read-ahead reads are exactly this size; ring sizes are multiples of it.
constexpr uint32_t kInputChunk = 65536;

// SuspendInput flags.
constexpr uint32_t kSuspendReading = 0x1;  // stop reading ahead
constexpr uint32_t kResumeReading = 0x2;   // read ahead again
// With kSuspendReading: wait until a chunk in progress has ended.
// With kResumeReading: read one chunk at once.
constexpr uint32_t kSuspendAndSync = 0x80000000u;

// The four lock operations the owner installs. Each may be null. Without a
// try-lock the input never reads ahead (ServiceInput returns -1) and reads
// everything directly.
struct InputLock {
    void (*lock)(void* context) = nullptr;
    bool (*try_lock)(void* context) = nullptr;  // true when taken
    void (*unlock)(void* context) = nullptr;
    void (*yield)(void* context) = nullptr;
    void* context = nullptr;
};

// Lock operations for an input that no other thread touches: lock and unlock
// do nothing, the try-lock always succeeds, yield gives up the time slice.
InputLock SingleThreadInputLock();

// A snapshot of the statistics the summary reports. Times in milliseconds of
// the library clock (Milliseconds()).
struct InputStatistics {
    uint32_t bytes_read = 0;         // by ReadFrame and ServiceInput (not ReadDirect)
    uint32_t read_time = 0;          // inside file reads of ReadFrame and ServiceInput
    uint32_t frame_read_time = 0;    // inside ReadFrame calls, waiting included
    uint32_t idle_service_time = 0;  // read-ahead reads while the core was not busy
    uint32_t busy_service_time = 0;  // read-ahead reads while the core was busy
    uint32_t buffer_size = 0;        // ring size (multiple of 65536; 0 without a ring)
    uint32_t highest_fill = 0;       // most bytes ever held in the ring
};

class MovieIO {
  public:
    MovieIO() = default;
    MovieIO(const MovieIO&) = delete;
    MovieIO& operator=(const MovieIO&) = delete;
    // Closes the input when CloseInput was not called.
    virtual ~MovieIO();

    // ------------------------------------------ the seven operations, in slot order
    // Unbuffered read for the header, track table and frame index. Empties the
    // ring when it moves the file position. A short read sets read failed.
    virtual uint32_t ReadDirect(uint32_t offset, void* destination, uint32_t count) = 0;
    // Delivers count bytes at the movie offset (kCurrentPosition: the very next
    // bytes) from the ring, reading what is missing straight from the file.
    // Returns the bytes delivered. Once read failed is set, only bytes read
    // ahead before the failure are delivered.
    virtual uint32_t ReadFrame(uint32_t frame, uint32_t offset, void* destination,
                               uint32_t count) = 0;
    // wanted raised to the next multiple of 65536 (saturating at 0xFFFF0000).
    virtual uint32_t GetBufferSize(uint32_t wanted) = 0;
    // Gives the input its ring (size cut down to a multiple of 65536; a size
    // below 65536 means no ring), the movie offset at which the movie data
    // ends and the simulated rate in bytes per second (0 = off). The ring must
    // stay valid until CloseInput or the next SetBuffer. Returns the ring size
    // in use.
    virtual uint32_t SetBuffer(void* ring, uint32_t ring_size, uint32_t movie_limit,
                               uint32_t simulated_rate) = 0;
    // One read-ahead step: -1 when the lock was busy (or there is no try-lock),
    // 0 when there was nothing to do, else the bytes read (65536).
    virtual int32_t ServiceInput() = 0;
    // Closes the file unless its handle was given. Idempotent.
    virtual void CloseInput() = 0;
    // kSuspendReading / kResumeReading, optionally with kSuspendAndSync.
    // Returns the suspended flag.
    virtual uint32_t SuspendInput(uint32_t flags) = 0;

    // ------------------------------------------ locking (installed by the owner)
    // Installs the lock operations. Call before any other thread can reach the
    // input. Until then (and with all operations null) the input never reads
    // ahead.
    void SetInputLock(const InputLock& lock);
    void LockInput();
    bool TryLockInput();  // false when busy or when there is no try-lock
    void UnlockInput();
    void YieldInput();

    // ------------------------------------------ state the stream core reads and sets
    // Set by the stream core while one of its operations runs; books
    // read-ahead time as busy or idle service time.
    void SetCoreBusy(bool busy) { core_busy_.store(busy ? 1 : 0); }
    bool CoreBusy() const { return core_busy_.load() != 0; }
    bool ReadFailed() const { return read_failed_.load() != 0; }
    bool ChunkInProgress() const { return chunk_in_progress_.load() != 0; }
    bool Suspended() const { return suspended_.load() != 0; }
    // Bytes in the ring not yet handed out.
    uint32_t Fill() const { return fill_.load(); }
    // The fill at which the ring counts as full.
    uint32_t FullLevel() const { return full_level_.load(); }
    uint32_t FreeSpace() const { return free_space_.load(); }
    uint32_t BufferSize() const { return buffer_size_.load(); }
    // Movie offset of the next byte ReadFrame hands out.
    uint32_t ConsumerPosition() const { return consumer_position_.load(); }
    // Movie offset of the next byte read from the file.
    uint32_t FilePosition() const { return file_position_.load(); }
    InputStatistics Statistics() const;

    // Blocks come from the library allocator (32-byte aligned).
    static void* operator new(size_t size);
    static void* operator new(size_t size, const std::nothrow_t&) noexcept;
    static void operator delete(void* block) noexcept;

  protected:
    std::atomic<uint32_t> read_failed_{0};
    std::atomic<uint32_t> chunk_in_progress_{0};
    std::atomic<uint32_t> bytes_read_{0};
    std::atomic<uint32_t> core_busy_{0};
    std::atomic<uint32_t> read_time_{0};
    std::atomic<uint32_t> frame_read_time_{0};
    std::atomic<uint32_t> idle_service_time_{0};
    std::atomic<uint32_t> busy_service_time_{0};
    std::atomic<uint32_t> buffer_size_{0};
    std::atomic<uint32_t> highest_fill_{0};
    std::atomic<uint32_t> full_level_{0};
    std::atomic<uint32_t> fill_{0};
    std::atomic<uint32_t> suspended_{0};
    std::atomic<uint32_t> file_position_{0};
    std::atomic<uint32_t> consumer_position_{0};
    std::atomic<uint32_t> free_space_{0};
    InputLock lock_{};
};

using MovieIOPtr = std::unique_ptr<MovieIO>;

// Opens the file input. Without kOpenFromHandle, name_or_handle is a file
// name (opened for reading, sharing reads, then reads and writes). With
// kOpenFromHandle it points at an intptr_t holding an open platform file
// handle (a descriptor on Linux, a HANDLE on Windows): the input reads through
// it, does not close it, and takes its current position as the base offset.
// Null when the file cannot be opened.
MovieIOPtr OpenFileInput(const void* name_or_handle, uint32_t open_flags);
MovieIOPtr OpenFileInputByName(const char* name);
MovieIOPtr OpenFileInputOnHandle(intptr_t handle);
// A file input over size bytes in memory (not copied; they must outlive the
// input). Reads past the end are short, as at the end of a file.
MovieIOPtr OpenMemoryInput(const void* data, size_t size);

// Where a file input's bytes come from when they come neither from a plain
// file nor from memory: a test puts a source with faults (short or failing
// reads, stalls, a file that shrinks or goes away) between the input and the
// file. Called with the input lock held (or on the only thread).
class InputSource {
  public:
    virtual ~InputSource() = default;
    // Up to count bytes at the current position; fewer only in pieces (the
    // input asks again for the rest), 0 at the end or on error.
    virtual uint32_t Read(void* destination, uint32_t count) = 0;
    // To a movie offset; false on failure.
    virtual bool Seek(uint32_t movie_offset) = 0;
};
using InputSourcePtr = std::unique_ptr<InputSource>;
// A file input over a source (owned; released when the input closes).
MovieIOPtr OpenSourceInput(InputSourcePtr source);
// Test hook: while set, a file input opened by name reads through the source
// this makes for the name (null: the file cannot be opened). Null restores.
void SetInputSourceForTesting(InputSourcePtr (*make)(const char* name));

// Test hook: while set, the simulated-rate wait calls this instead of giving
// up the time slice (a test advances its test clock here). Null restores.
void SetRateWaitYieldForTesting(void (*yield)());

}  // namespace vemo
