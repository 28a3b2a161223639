// Constant tables of the picture bitstream: the sixteen prefix-code sets,
// the run scans, the coefficient scan order and the two quantiser tables.
// Shared by the decoder and the writer.
#pragma once

#include <cstdint>

namespace vemo::video {

constexpr int kCodeSetCount = 16;
constexpr int kLongestCode = 7;  // longest code of any set
constexpr int kCodeLookupSize = 1 << kLongestCode;

// Code lengths and values of every set, codes 0-15; a value's bit 0 is the
// first bit in the stream.
extern const uint8_t kCodeLengths[kCodeSetCount][16];
extern const uint8_t kCodeValues[kCodeSetCount][16];
// Longest code of each set (4 to 7 bits).
extern const uint8_t kCodeLongest[kCodeSetCount];
// One lookup per set, indexed by the next 7 stream bits (bit 0 first): high
// nibble the code length, low nibble the code number.
extern const uint8_t (&kCodeLookup)[kCodeSetCount][kCodeLookupSize];

// The sixteen run scans: position (row x 8 + column) of each step.
extern const uint8_t kRunScans[16][64];
// Coefficient scan: scan index -> natural index (row x 8 + column).
extern const uint8_t kCoefficientScan[64];
// Inverse of kCoefficientScan: natural index -> scan index.
extern const uint8_t kCoefficientScanInverse[64];

// Quantiser tables [q][natural index], computed once on first use.
using QuantTable = uint32_t[16][64];
const QuantTable& IntraQuantTable();
const QuantTable& InterQuantTable();

// The inverse transform alone (what a block's coefficients draw): 64 output
// bytes, row-major.
void InverseTransform(const int16_t coefficients[64], const uint32_t quant[64], uint8_t out[64]);

}  // namespace vemo::video
