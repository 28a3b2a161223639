// The modes of vemo-decode. Each mode lives in a mode_*.cpp file and
// registers itself with VEMO_DECODE_MODE; main() parses the command line,
// checks every option against the registered ones and runs each mode that
// one of its trigger options selects.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vemo::tool {

struct DecodeOption {
    const char* name;  // "--planes"
    bool takes_value;  // "--planes OUT"
    bool triggers;     // giving it selects the mode
    const char* help;  // one line for --help
};

struct DecodeArgs {
    std::string movie;
    std::map<std::string, std::string> values;  // option -> value ("" for flags)
    bool has(const std::string& name) const { return values.count(name) != 0; }
    std::string get(const std::string& name, const std::string& fallback = "") const {
        auto it = values.find(name);
        return it == values.end() ? fallback : it->second;
    }
};

struct DecodeMode {
    const char* name;
    std::vector<DecodeOption> options;
    // Returns the exit code (0 success, 1 bad movie or failed write, 2 bad usage).
    int (*run)(const DecodeArgs& args);
};

bool RegisterDecodeMode(const DecodeMode* mode);
const std::vector<const DecodeMode*>& DecodeModes();

// Parses a whole decimal or 0x-hex number; false when it is not one.
bool ParseNumber(const std::string& text, unsigned long long* value);
// The --threads count (1 when not given); false (after the message) when it
// is not a number from 1 to 64.
bool ThreadCount(const DecodeArgs& args, uint32_t* threads);

}  // namespace vemo::tool

#define VEMO_DECODE_MODE(mode) \
    static const bool mode##_registered = ::vemo::tool::RegisterDecodeMode(&(mode))
