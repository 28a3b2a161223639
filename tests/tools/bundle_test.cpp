#include "bundle.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace vemo::bundle {
namespace {

std::vector<uint8_t> FakePlayer(int markers = 1) {
    std::string bytes =
        "\x7f"
        "ELF....code....";
    for (int i = 0; i < markers; ++i) {
        bytes += kOptionMarker;
        bytes += std::string(kOptionCapacity, '~');
        bytes.push_back('\0');
    }
    bytes += "....more code";
    return {bytes.begin(), bytes.end()};
}

TEST(Bundle, AppendsTheMovieAndPatchesTheOptionString) {
    std::vector<uint8_t> player = FakePlayer();
    std::vector<uint8_t> movie = {'V', 'E', 'M', 'i', 1, 2, 3};
    std::vector<uint8_t> out;
    std::string error;
    ASSERT_TRUE(MakeBundle(player, movie, "/L0 /S", &out, &error)) << error;
    ASSERT_EQ(out.size(), player.size() + movie.size());
    EXPECT_TRUE(std::equal(movie.begin(), movie.end(), out.begin() + player.size()));
    size_t at = 0;
    ASSERT_TRUE(FindOptionString(out, &at, &error));
    std::string text(reinterpret_cast<const char*>(out.data() + at));
    std::string expected(1, ':');
    expected.append(std::to_string(player.size())).append(" /L0 /S");
    EXPECT_EQ(text, expected);
    // The padding after the terminator is left, so the section keeps its size.
    EXPECT_EQ(out[at + kOptionCapacity - 1], '~');
    EXPECT_EQ(out[at + kOptionCapacity], 0);
}

TEST(Bundle, RefusesWhatCannotWork) {
    std::vector<uint8_t> out;
    std::string error;
    std::vector<uint8_t> movie = {1};
    EXPECT_FALSE(MakeBundle({'n', 'o', 'p', 'e'}, movie, "", &out, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(MakeBundle(FakePlayer(2), movie, "", &out, &error));
    EXPECT_FALSE(MakeBundle(FakePlayer(), movie, std::string(508, 'x'), &out, &error));
    EXPECT_NE(error.find("too long"), std::string::npos);
    EXPECT_FALSE(MakeBundle(FakePlayer(), movie, "/X~", &out, &error));
    // A marker at the very end of the file, without room for the text.
    std::vector<uint8_t> cut = FakePlayer();
    cut.resize(cut.size() - 300);
    EXPECT_FALSE(MakeBundle(cut, movie, "", &out, &error));
}

}  // namespace
}  // namespace vemo::bundle
