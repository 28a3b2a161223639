#include "test_util.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

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

namespace {

// Test cases run as separate processes at the same time, and many of them
// write files of the same names: each process keeps its own directory, made
// on first use and removed when the process ends.
class ProcessTempDir {
  public:
    ProcessTempDir() {
        namespace fs = std::filesystem;
        std::error_code ec;
        const fs::path base = fs::temp_directory_path(ec);
        std::random_device random;
        for (int attempt = 0; attempt < 100; ++attempt) {
            char name[32];
            std::snprintf(name, sizeof name, "vemo-tests-%08x", static_cast<unsigned>(random()));
            if (fs::create_directory(base / name, ec)) {
                path_ = base / name;
                return;
            }
        }
        path_ = base / "vemo-tests";  // last resort: the shared directory
        fs::create_directories(path_, ec);
    }
    ~ProcessTempDir() {
        std::error_code ec;
        if (path_.filename() != "vemo-tests") std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

}  // namespace

std::string TempPath(const std::string& leaf) {
    static const ProcessTempDir dir;
    return (dir.path() / leaf).string();
}

}  // namespace vemo::test
