// YUV4MPEG2 and WAV input for the encoder tool.
#include "vemo/media_input.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "vemo/audio_writer.h"

namespace vemo::encode {

namespace {

constexpr uint32_t kLargestWidth = 4096;
constexpr uint32_t kLargestHeight = 8192;

// Reads one line (without the newline) of at most `limit` bytes.
bool ReadLine(std::FILE* f, size_t limit, std::string* line, bool* at_end) {
    line->clear();
    *at_end = false;
    for (;;) {
        const int c = std::fgetc(f);
        if (c == EOF) {
            *at_end = line->empty();
            return false;
        }
        if (c == '\n') return true;
        if (line->size() >= limit) return false;
        line->push_back(static_cast<char>(c));
    }
}

bool ParseUnsigned(const std::string& s, uint32_t* out) {
    if (s.empty() || s.size() > 10) return false;
    uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v > 0xFFFFFFFFu) return false;
    *out = static_cast<uint32_t>(v);
    return true;
}

// Reads `size` bytes into *plane, growing it only as the bytes arrive, so
// that a short file claiming a large picture costs no more than it holds.
bool ReadPlane(std::FILE* f, size_t size, std::vector<uint8_t>* plane) {
    constexpr size_t kStep = size_t{1} << 20;
    plane->clear();
    while (plane->size() < size) {
        const size_t at = plane->size();
        const size_t part = std::min(kStep, size - at);
        plane->resize(at + part);
        if (std::fread(plane->data() + at, 1, part, f) != part) return false;
    }
    return true;
}

uint32_t Le16(const uint8_t* p) {
    return p[0] | static_cast<uint32_t>(p[1]) << 8;
}
uint32_t Le32(const uint8_t* p) {
    return Le16(p) | Le16(p + 2) << 16;
}

}  // namespace

bool Y4mReader::Open(std::FILE* file, std::string* error) {
    file_ = file;
    std::string line;
    bool at_end;
    if (!ReadLine(file, 4096, &line, &at_end) || line.compare(0, 10, "YUV4MPEG2 ") != 0) {
        *error = "not a YUV4MPEG2 stream";
        return false;
    }
    bool have_w = false, have_h = false;
    size_t pos = 10;
    while (pos < line.size()) {
        size_t end = line.find(' ', pos);
        if (end == std::string::npos) end = line.size();
        const std::string token = line.substr(pos, end - pos);
        pos = end + 1;
        if (token.empty()) continue;
        const std::string value = token.substr(1);
        switch (token[0]) {
            case 'W':
                have_w = ParseUnsigned(value, &width);
                break;
            case 'H':
                have_h = ParseUnsigned(value, &height);
                break;
            case 'F': {
                const size_t colon = value.find(':');
                if (colon == std::string::npos ||
                    !ParseUnsigned(value.substr(0, colon), &rate_num) ||
                    !ParseUnsigned(value.substr(colon + 1), &rate_den) || rate_num == 0 ||
                    rate_den == 0) {
                    *error = "bad frame rate " + value;
                    return false;
                }
                break;
            }
            case 'C':
                if (value == "mono") {
                    mono = true;
                } else if (value.compare(0, 3, "420") != 0) {
                    *error = "colour sampling " + value + " is not supported (4:2:0 or mono only)";
                    return false;
                }
                break;
            default:
                break;  // interlacing, aspect and extensions do not matter here
        }
    }
    if (!have_w || !have_h || width == 0 || height == 0 || width > kLargestWidth ||
        height > kLargestHeight) {
        *error = "missing or unsupported picture size (1 to 4096 samples wide, 1 to 8192 high)";
        return false;
    }
    return true;
}

bool Y4mReader::ReadFrame(std::vector<uint8_t>* y, std::vector<uint8_t>* cb,
                          std::vector<uint8_t>* cr, std::string* error) {
    error->clear();
    std::string line;
    bool at_end;
    if (!ReadLine(file_, 1024, &line, &at_end)) {
        if (!at_end) *error = "frame " + std::to_string(frames_ + 1) + ": damaged frame header";
        return false;
    }
    if (line.compare(0, 5, "FRAME") != 0) {
        *error = "frame " + std::to_string(frames_ + 1) + ": expected FRAME";
        return false;
    }
    const size_t luma = size_t{width} * height;
    const size_t chroma = mono ? 0 : size_t{(width + 1) / 2} * ((height + 1) / 2);
    if (!ReadPlane(file_, luma, y) || !ReadPlane(file_, chroma, cb) ||
        !ReadPlane(file_, chroma, cr)) {
        *error = "frame " + std::to_string(frames_ + 1) + " is cut short";
        return false;
    }
    ++frames_;
    return true;
}

bool ParseWav(const std::vector<uint8_t>& bytes, WavSound* sound, std::string* error) {
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
        std::memcmp(&bytes[8], "WAVE", 4) != 0) {
        *error = "not a WAV file";
        return false;
    }
    uint32_t bits = 0, format = 0;
    bool have_format = false;
    size_t pos = 12;
    while (pos + 8 <= bytes.size()) {
        const uint32_t size = Le32(&bytes[pos + 4]);
        const uint8_t* body = &bytes[pos + 8];
        const size_t available = bytes.size() - pos - 8;
        if (std::memcmp(&bytes[pos], "fmt ", 4) == 0) {
            if (size < 16 || size > available) {
                *error = "damaged format chunk";
                return false;
            }
            format = Le16(body);
            sound->channels = Le16(body + 2);
            sound->rate = Le32(body + 4);
            bits = Le16(body + 14);
            if (format == 0xFFFE && size >= 26)
                format = Le16(body + 24);  // extensible: the sub-format
            have_format = true;
        } else if (std::memcmp(&bytes[pos], "data", 4) == 0) {
            if (!have_format) {
                *error = "the data chunk comes before the format chunk";
                return false;
            }
            if (format != 1 || (bits != 8 && bits != 16)) {
                *error = "only 8- or 16-bit PCM is supported";
                return false;
            }
            if (sound->channels < 1 || sound->channels > 2) {
                *error = "only mono or stereo sound is supported";
                return false;
            }
            if (sound->rate < 1000 || sound->rate > 65535) {
                *error =
                    "sample rate " + std::to_string(sound->rate) + " Hz is outside 1000..65535";
                return false;
            }
            const size_t length =
                std::min<size_t>(size, available);  // a cut file keeps what it has
            const size_t bytes_per_value = bits / 8;
            const size_t count = length / bytes_per_value / sound->channels * sound->channels;
            sound->samples.resize(count);
            for (size_t i = 0; i < count; ++i) {
                sound->samples[i] = bits == 16 ? static_cast<int16_t>(Le16(body + 2 * i))
                                               : static_cast<int16_t>((body[i] - 128) * 256);
            }
            return true;
        }
        if (size >= available) break;
        pos += 8 + size + (size & 1);
    }
    *error = "no sound data found";
    return false;
}

uint32_t SoundLeadFrames(uint32_t rate_num, uint32_t rate_den) {
    if (rate_num == 0 || rate_den == 0) return 1;
    const uint64_t per_second = 1000ull * rate_den;
    const uint64_t frames = uint64_t{kSoundLeadMilliseconds} * rate_num / per_second;
    return static_cast<uint32_t>(std::max<uint64_t>(frames, 1));  // below 2^32: 750 / 1000
}

bool EncodeSoundTrack(const WavSound& sound, uint32_t frames, uint32_t rate_num, uint32_t rate_den,
                      SoundTrack* track, std::string* error) {
    AudioBlockEncoder encoder(sound.rate, sound.channels, true);
    if (!encoder.ok()) {
        *error = "the sound encoder does not take this rate and channel count";
        return false;
    }
    AudioTrackParts parts =
        EncodeAudioTrack(encoder, sound.samples.data(), sound.samples.size(), frames, rate_num,
                         rate_den, SoundLeadFrames(rate_num, rate_den));
    if (parts.parts.size() != frames) {
        *error = "the sound could not be cut into frames";
        return false;
    }
    track->parts = std::move(parts.parts);
    track->buffer_size = parts.buffer_size;
    const uint32_t flags = 0x4000u | 0x1000u | (sound.channels == 2 ? 0x2000u : 0u);
    track->format = sound.rate | flags << 16;
    return true;
}

}  // namespace vemo::encode
