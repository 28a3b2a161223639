#include "decode_mode.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace vemo::tool {

namespace {
std::vector<const DecodeMode*>& Registry() {
    static std::vector<const DecodeMode*> modes;
    return modes;
}
}  // namespace

bool RegisterDecodeMode(const DecodeMode* mode) {
    Registry().push_back(mode);
    return true;
}

const std::vector<const DecodeMode*>& DecodeModes() {
    return Registry();
}

bool ParseNumber(const std::string& text, unsigned long long* value) {
    if (text.empty() || text[0] == '-' || text[0] == '+') return false;
    errno = 0;
    char* end = nullptr;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    *value = std::strtoull(text.c_str(), &end, hex ? 16 : 10);
    return errno == 0 && end && *end == '\0';
}

bool ThreadCount(const DecodeArgs& args, uint32_t* threads) {
    *threads = 1;
    if (!args.has("--threads")) return true;
    unsigned long long n = 0;
    if (!ParseNumber(args.get("--threads"), &n) || n < 1 || n > 64) {
        std::fprintf(stderr, "vemo-decode: --threads needs a count from 1 to 64\n");
        return false;
    }
    *threads = static_cast<uint32_t>(n);
    return true;
}

}  // namespace vemo::tool
