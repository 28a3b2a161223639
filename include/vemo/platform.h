// The thin layer over the operating system that the library and the player
// call. One interface, two implementations: posix/ (Linux) and win32/.
// Everything here is deliberately small: the subsystems decide policy, this
// layer only reaches the system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vemo::platform {

// ---------------------------------------------------------------- files
// An opaque file handle. On Windows it holds a HANDLE, on Linux a descriptor.
struct File {
    intptr_t value = -1;
    bool valid() const { return value != -1; }
};

// Opens an existing file for reading: first sharing reads only, then, when
// that fails, sharing reads and writes (another program may be writing the
// movie). Sequential access is hinted.
File OpenFileForReading(const char* name);
void CloseFile(File file);
// Reads up to count bytes at the current position; returns the bytes read
// (fewer at the end of the file or on error).
uint32_t ReadFile(File file, void* destination, uint32_t count);
// Moves the file position to an absolute offset; false when that fails.
bool SeekFile(File file, uint64_t offset);
// The current position of an open file (used for a handle given by a caller).
uint64_t TellFile(File file);
bool FileExists(const char* name);
bool IsDirectory(const char* name);
// The full path of the running executable ("" when unknown).
std::string ExecutablePath();

// ---------------------------------------------------------------- threads
enum class ThreadPriority { Normal, BelowNormal, TimeCritical };
struct Thread;  // opaque
using ThreadBody = void (*)(void* argument);
// Creates a thread that does not run until ResumeThread; the stack is 32 KB
// (or the smallest the system allows). Null when it cannot be created.
Thread* CreateSuspendedThread(ThreadBody body, void* argument, size_t stack_bytes = 32768);
void ResumeThread(Thread* thread);
void SetThreadPriority(Thread* thread, ThreadPriority priority);
// Waits for the thread to end and releases it.
void JoinThread(Thread* thread);
uint32_t CurrentThreadId();

// A recursive mutex: the owner may take it again; each take needs a release.
struct Mutex;
Mutex* NewMutex();
void DestroyMutex(Mutex* mutex);
void LockMutex(Mutex* mutex);
bool TryLockMutex(Mutex* mutex);
void UnlockMutex(Mutex* mutex);
// Waits up to one millisecond for any of the given mutexes (at most 16) and
// returns the index of the first one taken, in list order, or -1.
int LockAnyMutexWithin1ms(Mutex* const* mutexes, int count);

// An auto-reset event, initially not signalled.
struct Event;
Event* NewEvent();
void DestroyEvent(Event* event);
void SignalEvent(Event* event);
// True when the event was signalled within the time (and resets it).
bool WaitEvent(Event* event, uint32_t milliseconds);

// Gives up the rest of the time slice (Sleep(0)).
void YieldThread();
void SleepMilliseconds(uint32_t milliseconds);

// ---------------------------------------------------------------- time
// High-resolution counter; false when the system has none.
bool CounterFrequency(uint64_t* frequency);
uint64_t CounterValue();
// The system tick count in milliseconds (wraps every 49.7 days).
uint32_t TickCount();
// The multimedia millisecond time.
uint32_t MultimediaTime();
// Raise the system timer resolution to 1 ms and restore it (counted).
void BeginTimerResolution1ms();
void EndTimerResolution1ms();
// How many 1 ms resolution requests are outstanding (begun and not ended).
uint32_t TimerResolution1msHolds();

struct LocalTime {
    int year, month, day, day_of_week, hour, minute, second, milliseconds;
};
LocalTime GetLocalTime();

// ---------------------------------------------------------------- memory
// A private heap for the library's blocks, created on first use.
void* HeapAllocate(size_t bytes);
// As HeapAllocate, the block reading as zeros (fresh pages are not cleared
// twice).
void* HeapAllocateZeroed(size_t bytes);
void HeapFree(void* block);

// ---------------------------------------------------------------- settings
// The option string stored in the executable (at most 511 characters,
// padded with '~' so that a tool can patch a longer one in place).
std::string OptionStringResource();
// Profile strings: section and key as on Windows (win.ini); on Linux an ini
// file under $XDG_CONFIG_HOME/vemo/ (default ~/.config/vemo/).
std::string ReadProfileString(const char* section, const char* key, const char* fallback);
bool StoreProfileString(const char* section, const char* key, const char* value);

}  // namespace vemo::platform
