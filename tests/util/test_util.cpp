#include "test_util.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace vemo::test {

std::string ConformanceDir() {
    namespace fs = std::filesystem;
    std::vector<std::string> candidates;
    if (const char* env = std::getenv("VEMO_CONFORMANCE_DIR")) candidates.push_back(env);
    candidates.push_back(VEMO_CONFORMANCE_DIR);
    candidates.push_back("/work/shared/conformance");
    for (const std::string& c : candidates) {
        std::error_code ec;
        if (!c.empty() && fs::exists(fs::path(c) / "FORMATS.md", ec)) return c;
    }
    return {};
}

std::vector<std::string> ConformanceMovies() {
    namespace fs = std::filesystem;
    std::vector<std::string> names;
    const std::string dir = ConformanceDir();
    if (dir.empty()) return names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.path().extension() == ".vem") names.push_back(entry.path().stem().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::string TempPath(const std::string& leaf) {
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / "vemo-tests";
    std::error_code ec;
    fs::create_directories(dir, ec);
    return (dir / leaf).string();
}

}  // namespace vemo::test
