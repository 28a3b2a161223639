// The block reader's inner steps, shared by the decoder and its tests.
#pragma once

#include <cstdint>

#include "block_bits.h"
#include "vemo/audio_decoder.h"

namespace vemo::audio {

// Reads one block's fields (the DCT variant's two leading bits, then each
// coded channel) into K runs of N coefficients; returns the bits read.
uint64_t ReadBlockCoefficients(const AudioGeometry& geometry, BlockBits& bits, float* coefficients);

// values[i] = (tail[i] (count - i) + values[i] i) >> shift for i < count,
// count = 2^shift.
void CrossFade(const int16_t* tail, int16_t* values, uint32_t count, unsigned shift);

}  // namespace vemo::audio
