// Helpers shared by the tests: the conformance directory, whole-file reads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vemo::test {

// The directory holding the conformance movies ("" when it is not there);
// VEMO_CONFORMANCE_DIR in the environment overrides the configured one.
std::string ConformanceDir();
// Names (without extension) of the conformance movies, sorted.
std::vector<std::string> ConformanceMovies();
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes);
bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes);
// A fresh temporary directory for one test (removed by nobody; it is small).
std::string TempPath(const std::string& leaf);

}  // namespace vemo::test
