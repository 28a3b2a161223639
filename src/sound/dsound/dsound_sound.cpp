// The looping back end on a DirectSound secondary buffer.
#include <windows.h>
// After windows.h:
#include <dsound.h>
#include <mmsystem.h>

#include <mutex>

#include "looping_driver.h"
#include "sound_dsound.h"

namespace vemo {

namespace {

using DirectSoundCreateFunction = HRESULT(WINAPI*)(LPCGUID, LPDIRECTSOUND*, LPUNKNOWN);

// Process-wide: the device in use, who owns it and how many use it.
struct DirectSoundState {
    std::mutex mutex;
    bool recorded = false;           // a getter has chosen the device
    IDirectSound* wanted = nullptr;  // the caller's device, or null for an own one
    IDirectSound* device = nullptr;  // the device in use
    bool own_device = false;
    HMODULE library = nullptr;
    bool library_tried = false;
    DirectSoundCreateFunction create = nullptr;
    int users = 0;
    int open_tracks = 0;
    bool set_primary_format = false;
    HWND window = nullptr;
};

DirectSoundState& State() {
    static DirectSoundState state;
    return state;
}

// The window for the cooperative level, found once: this module's last
// top-level window that is not a child, else the process's first window,
// else the active window, else a hidden helper window of our own.
BOOL CALLBACK TakeWindow(HWND window, LPARAM found) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId()) return TRUE;
    HWND* taken = reinterpret_cast<HWND*>(found);
    const HINSTANCE instance =
        reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(window, GWLP_HINSTANCE));
    const bool child = (GetWindowLongA(window, GWL_STYLE) & WS_CHILD) != 0;
    if ((instance == GetModuleHandleA(nullptr) && !child) || *taken == nullptr) *taken = window;
    return TRUE;
}

HWND FindOwnWindow() {
    HWND taken = nullptr;
    EnumWindows(TakeWindow, reinterpret_cast<LPARAM>(&taken));
    if (taken == nullptr) taken = GetActiveWindow();
    if (taken == nullptr)
        taken = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
    return taken;
}

bool LoadLibraryOnce(DirectSoundState& s) {
    if (!s.library_tried) {
        s.library_tried = true;
        const UINT mode = SetErrorMode(SEM_NOOPENFILEERRORBOX);
        s.library = LoadLibraryA("DSOUND.DLL");
        SetErrorMode(mode);
        if (s.library != nullptr)
            s.create = reinterpret_cast<DirectSoundCreateFunction>(
                reinterpret_cast<void*>(GetProcAddress(s.library, "DirectSoundCreate")));
    }
    return s.create != nullptr;
}

// Device start and release, under the state's mutex.
bool StartDevice(DirectSoundState& s) {
    if (s.users++ > 0) return true;
    if (s.own_device) {
        if (!LoadLibraryOnce(s) || FAILED(s.create(nullptr, &s.device, nullptr))) {
            s.device = nullptr;
            --s.users;
            return false;
        }
        if (s.window == nullptr) s.window = FindOwnWindow();
        if (SUCCEEDED(s.device->SetCooperativeLevel(s.window, DSSCL_PRIORITY)))
            s.set_primary_format = true;
    } else {
        s.device = s.wanted;
    }
    DSCAPS caps = {};
    caps.dwSize = sizeof caps;
    s.device->GetCaps(&caps);
    return true;
}

void ReleaseDevice(DirectSoundState& s) {
    if (s.users == 0 || --s.users > 0) return;
    if (s.own_device && s.device != nullptr) s.device->Release();
    s.device = nullptr;
}

WAVEFORMATEX FormatOf(uint32_t rate, uint32_t bits, uint32_t channels) {
    WAVEFORMATEX f = {};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = static_cast<WORD>(channels);
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = static_cast<WORD>(bits);
    f.nBlockAlign = static_cast<WORD>(bits / 8 * channels);
    f.nAvgBytesPerSec = sound::BytesPerSecond(rate, bits, channels);
    return f;
}

class DirectSoundLoop : public sound::LoopingDriver {
  public:
    ~DirectSoundLoop() override { CloseOnce(); }

    bool Open(uint32_t rate, uint32_t bits, uint32_t channels, const SoundMovieInfo& movie) {
        DirectSoundState& s = State();
        std::lock_guard<std::mutex> guard(s.mutex);
        if (!StartDevice(s)) return false;
        started_ = true;
        Setup(rate, bits, channels, movie);
        if (sizes().buffer_size == 0 || sizes().chunk_size == 0) return false;
        WAVEFORMATEX format = FormatOf(rate, bits, channels);
        if (s.set_primary_format) {
            s.set_primary_format = false;
            DSBUFFERDESC primary = {};
            primary.dwSize = sizeof primary;
            primary.dwFlags = DSBCAPS_PRIMARYBUFFER;
            IDirectSoundBuffer* buffer = nullptr;
            if (SUCCEEDED(s.device->CreateSoundBuffer(&primary, &buffer, nullptr))) {
                buffer->SetFormat(&format);
                buffer->Play(0, 0, DSBPLAY_LOOPING);
            }
        }
        DSBUFFERDESC desc = {};
        desc.dwSize = sizeof desc;
        desc.dwFlags = DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLPAN | DSBCAPS_CTRLVOLUME |
                       DSBCAPS_GLOBALFOCUS | DSBCAPS_GETCURRENTPOSITION2;
        desc.dwBufferBytes = sizes().buffer_size;
        desc.lpwfxFormat = &format;
        if (FAILED(s.device->CreateSoundBuffer(&desc, &buffer_, nullptr))) {
            buffer_ = nullptr;
            return false;
        }
        ++s.open_tracks;
        Arm();
        return true;
    }

  protected:
    bool DeviceLock(uint32_t offset, uint32_t bytes, uint8_t** first, uint32_t* first_bytes,
                    uint8_t** second, uint32_t* second_bytes) override {
        void *a = nullptr, *b = nullptr;
        DWORD an = 0, bn = 0;
        HRESULT r = buffer_->Lock(offset, bytes, &a, &an, &b, &bn, 0);
        while (r == DSERR_BUFFERLOST) {
            Sleep(10);
            buffer_->Restore();
            r = buffer_->Lock(offset, bytes, &a, &an, &b, &bn, 0);
        }
        if (FAILED(r)) return false;
        *first = static_cast<uint8_t*>(a);
        *first_bytes = an;
        *second = static_cast<uint8_t*>(b);
        *second_bytes = bn;
        return true;
    }
    void DeviceUnlock(uint8_t* first, uint32_t first_bytes, uint8_t* second,
                      uint32_t second_bytes) override {
        buffer_->Unlock(first, first_bytes, second, second_bytes);
    }
    void DeviceCursors(uint32_t* play, uint32_t* write) override {
        DWORD p = 0, w = 0;
        buffer_->GetCurrentPosition(&p, &w);
        *play = p;
        *write = w;
    }
    bool DevicePlay() override {
        HRESULT r = buffer_->Play(0, 0, DSBPLAY_LOOPING);
        while (r == DSERR_BUFFERLOST) {
            Sleep(10);
            buffer_->Restore();
            r = buffer_->Play(0, 0, DSBPLAY_LOOPING);
        }
        return SUCCEEDED(r);
    }
    bool DeviceStop() override { return SUCCEEDED(buffer_->Stop()); }
    bool DeviceIsPlaying() override {
        DWORD status = 0;
        return SUCCEEDED(buffer_->GetStatus(&status)) && status != 0;
    }
    void DeviceSetPosition(uint32_t offset) override { buffer_->SetCurrentPosition(offset); }
    void DeviceApply(uint32_t rate, int32_t pan_db, int32_t volume_db) override {
        buffer_->SetFrequency(rate);
        buffer_->SetPan(pan_db);
        buffer_->SetVolume(volume_db);
    }
    void DeviceRelease() override {
        DirectSoundState& s = State();
        std::lock_guard<std::mutex> guard(s.mutex);
        if (buffer_ != nullptr) {
            buffer_->Release();
            buffer_ = nullptr;
            --s.open_tracks;
        }
        if (started_) {
            ReleaseDevice(s);
            started_ = false;
        }
    }

  private:
    IDirectSoundBuffer* buffer_ = nullptr;
    bool started_ = false;
};

SoundDevice* OpenDirectSound(uint32_t rate, uint32_t bits, uint32_t channels, uint32_t,
                             const SoundMovieInfo& movie, SoundDeviceInfo* info) {
    if (rate == 0 || (bits != 8 && bits != 16) || (channels != 1 && channels != 2)) return nullptr;
    auto driver = std::make_unique<DirectSoundLoop>();
    if (!driver->Open(rate, bits, channels, movie)) return nullptr;
    return sound::HandOver(std::move(driver), info);
}

const SoundBackEnd kDirectSoundBackEnd =
    sound::MakeSoundBackEnd("dsound", kSoundCapOutputs, OpenDirectSound);

}  // namespace

const SoundBackEnd* GetDirectSoundOpener(void* device) {
    IDirectSound* wanted = static_cast<IDirectSound*>(device);
    DirectSoundState& s = State();
    std::lock_guard<std::mutex> guard(s.mutex);
    if (!s.recorded) {
        s.recorded = true;
        s.wanted = wanted;
    } else if (wanted != s.wanted) {
        if (s.open_tracks > 0) return nullptr;
        s.wanted = wanted;
    }
    s.own_device = s.wanted == nullptr;
    if (s.own_device && !LoadLibraryOnce(s)) return nullptr;
    // Probe: the device starts; the probe's use is given back at once.
    if (!StartDevice(s)) return nullptr;
    ReleaseDevice(s);
    return &kDirectSoundBackEnd;
}

}  // namespace vemo
