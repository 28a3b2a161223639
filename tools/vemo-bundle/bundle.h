// Making a self-running movie: the player's bytes, the movie appended, and
// ":OFFSET TEXT" written into the player's option string.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vemo::bundle {

constexpr char kOptionMarker[] = "VEMO-OPTIONS-01:";
constexpr size_t kOptionMarkerLength = sizeof(kOptionMarker) - 1;
constexpr size_t kOptionCapacity = 511;  // characters after the marker

// Where the option string's characters start in the player's bytes; false
// with *error set when the marker is missing or found more than once.
bool FindOptionString(const std::vector<uint8_t>& player, size_t* at, std::string* error);

// The option string of a Windows player: string 16 of its string resources
// (block 2 of the resource type 6, the first language), UTF-16 characters
// padded with '~'. *at: the offset of its first character in the file,
// *length: its characters. False with *error set when the file is no PE
// file, has no such string, or any part of the way there lies outside the
// file.
bool FindPeOptionString(const std::vector<uint8_t>& player, size_t* at, size_t* length,
                        std::string* error);

// The option string for a movie appended at `offset`: ":OFFSET" and, when
// given, a space and the extra switches.
std::string BundleOptionText(uint64_t offset, const std::string& options);

// Builds the bundle in memory from a Linux (ELF) or a Windows (PE) player;
// false with *error when the player has no option string or the text does
// not fit.
bool MakeBundle(const std::vector<uint8_t>& player, const std::vector<uint8_t>& movie,
                const std::string& options, std::vector<uint8_t>* out, std::string* error);

}  // namespace vemo::bundle
