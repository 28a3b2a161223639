// Internal tables and helpers of the encoder library.
#pragma once

#include <cstdint>

namespace vemo::encode {

extern const uint8_t (&kCodeLength)[16][16];
extern const uint8_t (&kCodeValue)[16][16];

}  // namespace vemo::encode
