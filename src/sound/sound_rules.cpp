#include "sound_rules.h"

#include <algorithm>
#include <cfenv>
#include <cmath>

namespace vemo::sound {

uint32_t BytesPerSecond(uint32_t rate, uint32_t bits, uint32_t channels) {
    const uint16_t bytes = static_cast<uint16_t>(bits / 8);
    const uint16_t count = static_cast<uint16_t>(channels);
    return rate * bytes * count;
}

LoopingSizes ComputeLoopingSizes(uint32_t rate, uint32_t bits, uint32_t channels,
                                 const SoundMovieInfo& movie) {
    LoopingSizes s;
    s.bytes_per_second = BytesPerSecond(rate, bits, channels);
    const uint64_t p = s.bytes_per_second;
    s.buffer_size = static_cast<uint32_t>((p * 600 / 1000 + 1023) & ~uint64_t{1023});
    s.chunk_size = static_cast<uint32_t>((p * 50 / 1000 + 255) & ~uint64_t{255});
    s.ninety_percent = static_cast<uint32_t>(uint64_t{s.buffer_size} * 90 / 100);
    const bool has_rate = movie.rate_numerator != 0 && movie.rate_denominator != 0;
    s.start_threshold = has_rate ? TotalSoundBytes(movie, rate, bits, channels) : s.chunk_size;
    s.start_threshold = std::min(s.start_threshold, s.buffer_size);
    s.core_chunk_bytes = bits == 8 ? s.chunk_size * 2 : s.chunk_size;
    return s;
}

QueuedSizes ComputeQueuedSizes(uint32_t rate, uint32_t bits, uint32_t channels,
                               const SoundMovieInfo& movie) {
    QueuedSizes s;
    s.bytes_per_second = BytesPerSecond(rate, bits, channels);
    const uint64_t p = s.bytes_per_second;
    s.buffer_size = static_cast<uint32_t>((p * 1000 / 16000 + 31) & ~uint64_t{31});
    s.total_sound = TotalSoundBytes(movie, rate, bits, channels);
    s.start_threshold = static_cast<uint32_t>((p * 1000 / 2000 + 31) & ~uint64_t{31});
    s.start_threshold = std::min(s.start_threshold, s.total_sound);
    s.buffer_memory = kQueuedBuffers * (s.buffer_size + 36);
    s.core_chunk_bytes = bits != 16 ? s.buffer_size * 2 : s.buffer_size;
    return s;
}

int32_t VolumeToHundredthsDb(uint32_t volume) {
    const uint32_t v = std::min<uint32_t>(volume, 32767);
    if (v == 0) return -10000;
    // Both constants are single-precision values; the product and the
    // logarithm are taken in extended precision and rounded to nearest even.
    const long double scale = static_cast<long double>(3.0518509e-05f);
    const long double factor = static_cast<long double>(3333.3333f);
    const long double d = std::log10(static_cast<long double>(v) * scale) * factor;
    const int saved = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const long long rounded = std::llrint(d);
    std::fesetround(saved);
    return static_cast<int32_t>(std::max<long long>(rounded, -10000));
}

int32_t PanToHundredthsDb(uint32_t pan) {
    const int32_t p = static_cast<int32_t>(std::min<uint32_t>(pan, 65536)) - 32768;
    return p * 10000 / 32768;  // C++ division truncates toward zero
}

void LoopingChannelGains(int32_t volume_db, int32_t pan_db, double* left, double* right) {
    const double base = volume_db <= -10000 ? 0.0 : std::pow(10.0, volume_db / 2000.0);
    const double left_db = pan_db > 0 ? -pan_db : 0;
    const double right_db = pan_db < 0 ? pan_db : 0;
    *left = left_db <= -10000 ? 0.0 : base * std::pow(10.0, left_db / 2000.0);
    *right = right_db <= -10000 ? 0.0 : base * std::pow(10.0, right_db / 2000.0);
}

uint32_t QueuedVolume(uint32_t volume) {
    return (std::min<uint32_t>(volume, 65535) + 1) * 32767u / 65536u;
}

void QueuedChannelLevels(uint32_t volume, uint32_t pan, uint32_t* left, uint32_t* right) {
    const uint32_t v = volume;
    const uint32_t p = std::min<uint32_t>(pan, 65536);
    if (p <= 32767) {
        *left = v;
        *right = v * p / 32767;
    } else {
        *left = v * (65536 - p) / 32769;
        *right = v;
    }
}

}  // namespace vemo::sound
