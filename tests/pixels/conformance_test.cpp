// Every converted frame of the conformance set, on both arithmetic paths,
// under every CPU mask level.
#include <gtest/gtest.h>

#include <cstdlib>

#include "cpu_levels.h"
#include "pixels_internal.h"
#include "pixels_test_util.h"
#include "test_util.h"

namespace vemo {
namespace {

using test::ConformanceDir;

void CheckAll(const test::CpuLevel& level) {
    if (ConformanceDir().empty()) {
        GTEST_SKIP() << "no conformance directory";
    }
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(test::ReadWholeFile(ConformanceDir() + "/surfaces.json", &bytes));
    const auto entries = test::ParseObjectArray(std::string(bytes.begin(), bytes.end()));
    ASSERT_GT(entries.size(), 100u);
    test::ScopedCpuMask mask(level.mask);
    ConverterState state;
    std::map<std::string, test::ConformanceMovie> movies;
    int failures = 0, checked = 0;
    for (const auto& e : entries) {
        std::string name = e.at("movie");
        name = name.substr(0, name.rfind('.'));
        if (!movies.count(name)) {
            ASSERT_TRUE(test::LoadConformanceMovie(name, &movies[name]));
        }
        const test::ConformanceMovie& m = movies[name];
        test::OwnedPlanes planes;
        ASSERT_TRUE(test::LoadConformanceFrame(m, std::stoul(e.at("frame")), &planes));
        const uint32_t copy_flags =
            static_cast<uint32_t>(std::stoul(e.at("copy_flags"), nullptr, 16));
        const uint32_t flags = copy_flags | static_cast<uint32_t>(std::stoul(e.at("format"))) |
                               (m.OpenFlags() & kCopyMovieFlagsMask);
        state.set_path(e.at("path") == "table" ? PixelPath::kTable : PixelPath::kPacked);
        const auto got = test::ConvertWhole(state, planes.planes, m.width, m.height, flags);
        std::vector<uint8_t> want;
        ASSERT_TRUE(test::ReadWholeFile(ConformanceDir() + "/" + e.at("file"), &want));
        ++checked;
        if (got != want) {
            size_t first = 0;
            while (first < std::min(got.size(), want.size()) && got[first] == want[first]) ++first;
            if (const char* dump = std::getenv("VEMO_PIXELS_DUMP"))
                test::WriteWholeFile(std::string(dump) + "/" + e.at("file"), got);
            if (++failures <= 400)
                ADD_FAILURE() << e.at("file") << ": sizes " << got.size() << "/" << want.size()
                              << ", first difference at byte " << first;
        }
    }
    EXPECT_EQ(failures, 0) << "of " << checked << " at " << level.name;
}

TEST(PixelConformance, EverySurfaceAtEveryCpuLevel) {
    for (const test::CpuLevel& level : test::CpuLevels()) {
        CheckAll(level);
        if (HasFatalFailure() || IsSkipped()) return;
    }
}

}  // namespace
}  // namespace vemo
