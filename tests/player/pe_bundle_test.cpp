// vemo-bundle on a Windows player: string 16 found through the PE resource
// directory and patched in place.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bundle.h"

namespace vemo::bundle {
namespace {

void Put16(std::vector<uint8_t>* b, size_t at, uint32_t v) {
    (*b)[at] = static_cast<uint8_t>(v);
    (*b)[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>* b, size_t at, uint32_t v) {
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}

constexpr size_t kResource = 0x200;  // file offset of the resource section (RVA 0x1000)
constexpr size_t kStrings = kResource + 0x58;

// A PE32 file with one resource section: type 6, block `block`, language
// 0x409, the block's first string `length` '~' characters.
std::vector<uint8_t> FakeWindowsPlayer(uint32_t length, uint32_t block = 2) {
    std::vector<uint8_t> b(kStrings + 2 + 2 * length + 30, 0);
    b[0] = 'M';
    b[1] = 'Z';
    Put32(&b, 0x3C, 0x40);
    b[0x40] = 'P';
    b[0x41] = 'E';
    Put16(&b, 0x44, 0x14C);
    Put16(&b, 0x46, 1);      // one section
    Put16(&b, 0x54, 224);    // optional header size
    Put16(&b, 0x58, 0x10B);  // PE32
    Put32(&b, 0x58 + 92, 16);
    const uint32_t size = static_cast<uint32_t>(b.size() - kResource);
    Put32(&b, 0x58 + 96 + 16, 0x1000);
    Put32(&b, 0x58 + 96 + 20, size);
    const size_t section = 0x58 + 224;
    Put32(&b, section + 8, size);
    Put32(&b, section + 12, 0x1000);
    Put32(&b, section + 16, size);
    Put32(&b, section + 20, kResource);
    const uint32_t ids[3] = {6, block, 0x409};
    for (uint32_t level = 0; level < 3; ++level) {
        const size_t dir = kResource + 0x18 * level;
        Put16(&b, dir + 14, 1);
        Put32(&b, dir + 16, ids[level]);
        Put32(&b, dir + 20, level < 2 ? 0x80000000 | (0x18 * (level + 1)) : 0x48);
    }
    Put32(&b, kResource + 0x48, 0x1000 + 0x58);
    Put32(&b, kResource + 0x4C, 2 + 2 * length + 30);
    Put16(&b, kStrings, length);
    for (uint32_t i = 0; i < length; ++i) Put16(&b, kStrings + 2 + 2 * i, '~');
    return b;
}

std::string StringAt(const std::vector<uint8_t>& b, size_t at, size_t length) {
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        EXPECT_EQ(b[at + 2 * i + 1], 0);
        text.push_back(static_cast<char>(b[at + 2 * i]));
    }
    return text;
}

TEST(PeBundle, PatchesStringSixteenInPlaceAndAppendsTheMovie) {
    std::vector<uint8_t> player = FakeWindowsPlayer(511);
    size_t at = 0, length = 0;
    std::string error;
    ASSERT_TRUE(FindPeOptionString(player, &at, &length, &error)) << error;
    EXPECT_EQ(at, kStrings + 2);
    EXPECT_EQ(length, 511u);

    const std::vector<uint8_t> movie = {'V', 'E', 'M', 'i', 9, 8, 7};
    std::vector<uint8_t> out;
    ASSERT_TRUE(MakeBundle(player, movie, "/L0 /S", &out, &error)) << error;
    ASSERT_EQ(out.size(), player.size() + movie.size());
    const std::string text = std::string(":") + std::to_string(player.size()) + " /L0 /S";
    EXPECT_EQ(StringAt(out, at, text.size() + 1), text + "~");
    EXPECT_EQ(StringAt(out, at, 511).find_first_not_of('~', text.size()), std::string::npos);
    EXPECT_EQ(out[kStrings], 0xFF);  // the length word is kept
    EXPECT_EQ(out[kStrings + 1], 0x01);
    EXPECT_TRUE(std::equal(movie.begin(), movie.end(), out.end() - 7));
    EXPECT_TRUE(std::equal(player.begin(), player.begin() + static_cast<long>(at), out.begin()));
}

TEST(PeBundle, TheStringsLengthBoundsTheOptions) {
    std::vector<uint8_t> player = FakeWindowsPlayer(20);
    const std::string prefix = std::string(":") + std::to_string(player.size()) + " ";
    std::vector<uint8_t> out;
    std::string error;
    EXPECT_TRUE(MakeBundle(player, {}, std::string(20 - prefix.size(), 'x'), &out, &error))
        << error;
    EXPECT_FALSE(MakeBundle(player, {}, std::string(21 - prefix.size(), 'x'), &out, &error));
    EXPECT_NE(error.find("too long"), std::string::npos) << error;
}

TEST(PeBundle, RefusesDamagedOrForeignFilesWithoutReadingPastTheEnd) {
    std::vector<uint8_t> out;
    std::string error;
    EXPECT_FALSE(MakeBundle(FakeWindowsPlayer(511, 3), {}, "", &out, &error));
    EXPECT_NE(error.find("string 16"), std::string::npos) << error;

    const std::vector<uint8_t> whole = FakeWindowsPlayer(40);
    for (size_t cut = 0; cut < whole.size(); ++cut) {
        std::vector<uint8_t> part(whole.begin(), whole.begin() + static_cast<long>(cut));
        size_t at = 0, length = 0;
        EXPECT_FALSE(FindPeOptionString(part, &at, &length, &error)) << cut;
    }
    std::vector<uint8_t> wild = whole;
    Put32(&wild, 0x3C, 0xFFFFFFF0);  // the PE header far past the end
    EXPECT_FALSE(MakeBundle(wild, {}, "", &out, &error));
    wild = whole;
    Put32(&wild, kResource + 0x48, 0x7FFFFFF0);  // the strings outside every section
    EXPECT_FALSE(MakeBundle(wild, {}, "", &out, &error));
}

}  // namespace
}  // namespace vemo::bundle
