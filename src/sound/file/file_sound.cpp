// The file device: a headless device that writes everything it plays into a
// PCM WAV file.
#include <algorithm>
#include <cstdio>
#include <mutex>
#include <set>
#include <string>

#include "headless_driver.h"
#include "vemo/sound_headless.h"

namespace vemo {

namespace {

struct FileSoundState {
    std::mutex mutex;
    std::string base;
    std::set<unsigned> in_use;  // track numbers of the open files, from 1
};

FileSoundState& State() {
    static FileSoundState state;
    return state;
}

void PutLe(uint8_t* at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

class FileDriver : public sound::HeadlessDriver {
  public:
    FileDriver(uint32_t rate, uint32_t bits, uint32_t channels, const SoundMovieInfo& movie)
        : HeadlessDriver(rate, bits, channels, movie) {}
    ~FileDriver() override { CloseSound(); }

    bool Create(const std::string& name, unsigned number) {
        number_ = number;
        file_ = std::fopen(name.c_str(), "wb");
        if (file_ == nullptr) return false;
        uint8_t header[44] = {};
        FillHeader(header, 0);
        if (std::fwrite(header, 1, sizeof header, file_) != sizeof header) return false;
        return true;
    }

  protected:
    void OnPlayed(const uint8_t* bytes, uint32_t count) override {
        if (file_ == nullptr || failed_) return;
        // A WAV file holds at most 4 GB; keep the header's sizes honest.
        if (data_bytes_ + count > 0xFFFFFFFFull - 36) {
            failed_ = true;
            return;
        }
        if (std::fwrite(bytes, 1, count, file_) != count) failed_ = true;
        data_bytes_ += count;
    }

    void OnClosed() override {
        if (file_ != nullptr) {
            uint8_t header[44] = {};
            FillHeader(header, static_cast<uint32_t>(data_bytes_));
            if (std::fseek(file_, 0, SEEK_SET) == 0) std::fwrite(header, 1, sizeof header, file_);
            std::fclose(file_);
            file_ = nullptr;
        }
        if (number_ != 0) {
            FileSoundState& state = State();
            std::lock_guard<std::mutex> guard(state.mutex);
            state.in_use.erase(number_);
            number_ = 0;
        }
    }

  private:
    void FillHeader(uint8_t* h, uint32_t data) const {
        const uint32_t align = info.bits / 8 * info.channels;
        std::copy_n("RIFF", 4, h);
        PutLe(h + 4, 36 + data, 4);
        std::copy_n("WAVEfmt ", 8, h + 8);
        PutLe(h + 16, 16, 4);
        PutLe(h + 20, 1, 2);  // PCM
        PutLe(h + 22, info.channels, 2);
        PutLe(h + 24, info.rate, 4);
        PutLe(h + 28, info.rate * align, 4);
        PutLe(h + 32, align, 2);
        PutLe(h + 34, info.bits, 2);
        std::copy_n("data", 4, h + 36);
        PutLe(h + 40, data, 4);
    }

    std::FILE* file_ = nullptr;
    unsigned number_ = 0;
    uint64_t data_bytes_ = 0;
    bool failed_ = false;
};

SoundDevice* OpenFileSound(uint32_t rate, uint32_t bits, uint32_t channels, uint32_t,
                           const SoundMovieInfo& movie, SoundDeviceInfo* info) {
    if (rate == 0 || (bits != 8 && bits != 16) || (channels != 1 && channels != 2)) return nullptr;
    FileSoundState& state = State();
    std::string name;
    unsigned number = 1;
    {
        std::lock_guard<std::mutex> guard(state.mutex);
        if (state.base.empty()) return nullptr;
        while (state.in_use.count(number) != 0) ++number;
        state.in_use.insert(number);
        name = SoundFileNameForTrack(state.base, number);
    }
    auto driver = std::make_unique<FileDriver>(rate, bits, channels, movie);
    // On failure the driver's close gives the track number back.
    if (driver->sizes().chunk_size == 0 || !driver->Create(name, number)) return nullptr;
    return sound::HandOver(std::move(driver), info);
}

const SoundBackEnd kFileBackEnd = sound::MakeSoundBackEnd("file", 0, OpenFileSound);

}  // namespace

std::string SoundFileNameForTrack(const std::string& base, unsigned n) {
    if (n <= 1) return base;
    size_t stem = base.size();
    if (stem >= 4) {
        std::string tail = base.substr(stem - 4);
        for (char& c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        if (tail == ".wav") stem -= 4;
    }
    std::string name(base, 0, stem);
    name.push_back('.');
    name.append(std::to_string(n));
    name.append(".wav");
    return name;
}

const SoundBackEnd* GetFileSoundOpener(void* file_name) {
    if (file_name == nullptr) return nullptr;
    const char* name = static_cast<const char*>(file_name);
    if (*name == '\0') return nullptr;
    FileSoundState& state = State();
    std::lock_guard<std::mutex> guard(state.mutex);
    state.base = name;
    return &kFileBackEnd;
}

}  // namespace vemo
