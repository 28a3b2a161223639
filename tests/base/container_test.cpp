#include "vemo/container.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "test_util.h"
#include "vemo/container_writer.h"
#include "vemo/movie_reader.h"

namespace vemo {
namespace {

std::vector<uint8_t> SmallMovie(char version = 'i', uint32_t frames = 3) {
    MovieWriter w(version, 32, 16, 25, 1, 0);
    w.AddTrack(4096, (kTrackDct | kTrack16Bit) << 16 | 22050, 7);
    for (uint32_t i = 0; i < frames; ++i) {
        std::vector<uint8_t> part(12, static_cast<uint8_t>(i));
        w.AddFrame(i == 0, {part}, std::vector<uint8_t>(20 + i, 0x55));
    }
    return w.Finish();
}

TEST(Container, WriterAndReaderAgree) {
    MovieReader m;
    ASSERT_TRUE(m.OpenMemory(SmallMovie())) << m.error();
    const MovieHeader& h = m.header();
    EXPECT_EQ(h.version, 'i');
    EXPECT_EQ(h.frames, 3u);
    EXPECT_EQ(h.width, 32u);
    ASSERT_EQ(m.tracks().count, 1u);
    EXPECT_EQ(m.tracks().id[0], 7u);
    EXPECT_EQ(TrackRate(m.tracks().format[0]), 22050u);
    EXPECT_EQ(TrackVariant(m.tracks().format[0]), 1);
    // The first packet follows the tables directly; key bit on frame 0 only.
    EXPECT_EQ(m.index()[0], (44u + 12u + 16u) | 1u);
    EXPECT_FALSE(IsKeyFrame(m.index()[1]));
    // The final entry is the end of the movie and has bit 0 clear.
    EXPECT_EQ(m.index()[3], h.size + 8);
    PacketParts parts;
    ASSERT_TRUE(m.Parts(1, &parts));
    ASSERT_EQ(parts.tracks.size(), 1u);
    EXPECT_EQ(parts.tracks[0].length, 12u);
    EXPECT_EQ(parts.tracks[0].data[0], 1);
    EXPECT_EQ(parts.video_size, 22u);            // 21 bytes padded to an even packet
    EXPECT_EQ(h.largest_frame, 4u + 12u + 22u);  // frame 2: 22 video bytes, no pad
}

TEST(Container, FirstPacketOfALongMovieWithOneTrack) {
    // 1990 frames of 720x480 at 29.97 with one 48 kHz 16-bit stereo DCT track.
    MovieWriter w('i', 720, 480, 10000000, 333667, 0);
    w.AddTrack(7680, 0x7000u << 16 | 48000, 0);
    for (int i = 0; i < 1990; ++i) w.AddFrame(i == 0, {{}}, {});
    MovieReader m;
    ASSERT_TRUE(m.OpenMemory(w.Finish())) << m.error();
    EXPECT_EQ(IndexOffset(m.index()[0]), 8020u);
    EXPECT_EQ(WholeFramesPerSecond(10000000, 333667), 30u);
    EXPECT_EQ(TwoFrameTime(10000000, 333667), 66u);
    EXPECT_EQ(BlocksAcross(720), 45u);
    EXPECT_EQ(BlocksDown(480), 30u);
}

TEST(Container, DerivedValues) {
    EXPECT_EQ(TwoFrameTime(0, 1), 2000u);
    EXPECT_EQ(WholeFramesPerSecond(1, 10), 1u);  // never below 1
    EXPECT_EQ(WholeFramesPerSecond(25, 2), 13u);
    EXPECT_EQ(BlocksAcross(17), 2u);
    // Peak rate: the busiest window of W frames, first maximum wins.
    const uint32_t index[] = {101, 200, 400, 500, 700, 800};
    PeakRate p = PeakDataRate(index, 5, 2);
    EXPECT_EQ(p.rate, 300u);  // 400-101 = 299, 500-200 = 300, 700-400 = 300
    EXPECT_EQ(p.frame, 1u);
    // Too few frames for a window: the average over the movie.
    p = PeakDataRate(index, 2, 2);
    EXPECT_EQ(p.rate, (400u - 101u) * 2 / 2);
    EXPECT_EQ(p.frame, 0u);
    const uint32_t keys[] = {57, 1045, 1420};
    EXPECT_FALSE(AllKeyFrames(keys, 3));
    EXPECT_TRUE(AllKeyFrames(keys, 1));
    EXPECT_EQ(VersionOpenFlags('f'), 0x18000u);
    EXPECT_EQ(VersionOpenFlags('g'), 0x18000u);
    EXPECT_EQ(VersionOpenFlags('h'), 0x8000u);
    EXPECT_EQ(VersionOpenFlags('i'), 0u);
}

TEST(Container, HeaderChecksInOrder) {
    std::vector<uint8_t> movie = SmallMovie();
    MovieReader m;
    auto bad = movie;
    bad[3] = 'e';
    EXPECT_FALSE(m.OpenMemory(bad));
    EXPECT_EQ(m.error(), "Not a Vemo file.");
    bad = movie;
    bad[0] = 'X';
    EXPECT_FALSE(m.OpenMemory(bad));
    EXPECT_EQ(m.error(), "Not a Vemo file.");
    // A "VEMi" header with no frames is refused for that, not as "not Vemo".
    bad = movie;
    StoreLe32(&bad[8], 0);
    EXPECT_FALSE(m.OpenMemory(bad));
    EXPECT_EQ(m.error(), "The file doesn't contain any compressed frames yet.");
    // Too short for a header at all.
    EXPECT_FALSE(m.OpenMemory(std::vector<uint8_t>(movie.begin(), movie.begin() + 43)));
    EXPECT_EQ(m.error(), "Not a Vemo file.");
    // Tables cut short.
    EXPECT_FALSE(m.OpenMemory(std::vector<uint8_t>(movie.begin(), movie.begin() + 60)));
    EXPECT_EQ(m.error(), "Error reading Vemo header.");
}

TEST(Container, UntrustworthyTablesAreCaught) {
    const std::vector<uint8_t> movie = SmallMovie();
    const size_t index_at = 44 + 12;
    MovieReader m;
    struct Case {
        const char* what;
        size_t at;
        uint32_t value;
    } cases[] = {
        {"entry past the end", index_at + 4, 0x7FFFFFF0},
        {"entry running backwards", index_at + 8, 80},
        {"first frame inside the tables", index_at, 45},
        {"frames beyond the index", 8, 4},
        {"zero width", 20, 0},
        {"huge height", 24, 1u << 20},
        {"too many tracks", 40, 100000},
        {"zero rate denominator", 32, 0},
    };
    for (const Case& c : cases) {
        auto bad = movie;
        StoreLe32(&bad[c.at], c.value);
        EXPECT_FALSE(m.OpenMemory(bad)) << c.what;
        EXPECT_EQ(m.error(), "Error reading Vemo header.") << c.what;
        EXPECT_FALSE(m.detail().empty()) << c.what;
    }
}

TEST(Container, PacketPartsRunningPastThePacketAreRefused) {
    uint8_t packet[16] = {};
    StoreLe32(packet, 8);
    PacketParts parts;
    EXPECT_TRUE(SplitPacket(packet, 16, 1, &parts));
    EXPECT_EQ(parts.video_size, 4u);
    EXPECT_TRUE(SplitPacket(packet, 12, 1, &parts));
    EXPECT_EQ(parts.video_size, 0u);
    EXPECT_FALSE(SplitPacket(packet, 11, 1, &parts));
    StoreLe32(packet, 0xFFFFFFFF);
    EXPECT_FALSE(SplitPacket(packet, 16, 1, &parts));
    EXPECT_FALSE(SplitPacket(packet, 3, 1, &parts));  // not even a length field
    const uint8_t* video;
    uint32_t size;
    EXPECT_FALSE(FindVideoPart(packet, 16, 1, &video, &size));
    EXPECT_TRUE(FindVideoPart(packet, 16, 0, &video, &size));
    EXPECT_EQ(size, 16u);
}

TEST(Container, MovieWithoutTracks) {
    MovieWriter w('h', 8, 8, 30, 1, 0);
    w.AddFrame(true, {}, {1, 2, 3, 4});
    MovieReader m;
    ASSERT_TRUE(m.OpenMemory(w.Finish())) << m.error();
    EXPECT_EQ(IndexOffset(m.index()[0]), 44u + 8u);
    PacketParts parts;
    ASSERT_TRUE(m.Parts(0, &parts));
    EXPECT_EQ(parts.video_size, 4u);
    EXPECT_EQ(m.open_flags(), 0x8000u);
}

// Packet i of a reader as bytes (empty when it cannot be read).
std::vector<uint8_t> PacketBytes(MovieReader& m, uint32_t i) {
    const uint8_t* data;
    uint32_t size;
    if (!m.Packet(i, &data, &size)) return {};
    return std::vector<uint8_t>(data, data + size);
}

TEST(MovieReader, FileMemoryAndEmbeddedMoviesReadAlike) {
    const std::vector<uint8_t> movie = SmallMovie();
    // The movie behind 37 bytes of something else, with 5 more after it.
    std::vector<uint8_t> wrapped(37 + movie.size() + 5, 0xEE);
    std::copy(movie.begin(), movie.end(), wrapped.begin() + 37);
    const std::string alone = test::TempPath("reader-alone.vem"),
                      inside = test::TempPath("reader-inside.bin");
    ASSERT_TRUE(test::WriteWholeFile(alone, movie));
    ASSERT_TRUE(test::WriteWholeFile(inside, wrapped));
    MovieReader memory, file, embedded;
    ASSERT_TRUE(memory.OpenMemory(movie)) << memory.message();
    ASSERT_TRUE(file.Open(alone)) << file.message();
    ASSERT_TRUE(embedded.Open(inside + "|37")) << embedded.message();
    for (MovieReader* m : {&file, &embedded}) {
        EXPECT_EQ(m->tracks().id[0], 7u);
        // In order, again, and backwards: the file's position must follow.
        for (uint32_t i : {0u, 1u, 2u, 2u, 0u, 1u}) {
            const std::vector<uint8_t> want = PacketBytes(memory, i);
            ASSERT_FALSE(want.empty());
            EXPECT_EQ(PacketBytes(*m, i), want) << "frame " << i;
        }
        EXPECT_TRUE(PacketBytes(*m, 3).empty());  // no fourth frame
    }
    // One byte off in either direction is no movie.
    MovieReader m;
    EXPECT_FALSE(m.Open(inside + "|36"));
    EXPECT_EQ(m.error(), "Not a Vemo file.");
    EXPECT_FALSE(m.Open(inside + "|38"));
    EXPECT_EQ(m.error(), "Not a Vemo file.");
}

TEST(MovieReader, TruncatedFilesAndBadOffsets) {
    const std::vector<uint8_t> movie = SmallMovie();
    const std::string path = test::TempPath("reader-cut.vem");
    MovieReader m;
    // Cut inside the index: refused. Cut inside the last packet: the earlier
    // frames read, the last one does not.
    ASSERT_TRUE(
        test::WriteWholeFile(path, std::vector<uint8_t>(movie.begin(), movie.begin() + 71)));
    EXPECT_FALSE(m.Open(path));
    EXPECT_EQ(m.error(), "Error reading Vemo header.");
    EXPECT_FALSE(m.detail().empty());
    ASSERT_TRUE(
        test::WriteWholeFile(path, std::vector<uint8_t>(movie.begin(), movie.begin() + 72)));
    ASSERT_TRUE(m.Open(path)) << m.message();
    m.Close();  // an open file cannot be rewritten everywhere
    ASSERT_TRUE(test::WriteWholeFile(path, std::vector<uint8_t>(movie.begin(), movie.end() - 1)));
    ASSERT_TRUE(m.Open(path)) << m.message();
    EXPECT_FALSE(PacketBytes(m, 1).empty());
    EXPECT_TRUE(PacketBytes(m, 2).empty());
    ASSERT_TRUE(m.OpenMemory(std::vector<uint8_t>(movie.begin(), movie.end() - 1)));
    EXPECT_FALSE(PacketBytes(m, 1).empty());
    EXPECT_TRUE(PacketBytes(m, 2).empty());
    // Offsets that are no number, past the file, and a file that is not there.
    for (const char* bad : {"|", "|x1", "|-4", "|1234567890123456"}) {
        EXPECT_FALSE(m.Open(path + bad)) << bad;
        EXPECT_NE(m.error().find("Bad byte offset"), std::string::npos) << bad;
    }
    EXPECT_FALSE(m.Open(path + "|100000"));
    EXPECT_EQ(m.error(), "Not a Vemo file.");
    EXPECT_FALSE(m.Open(test::TempPath("reader-missing.vem")));
    EXPECT_EQ(m.error(), "Error opening file.");
}

}  // namespace
}  // namespace vemo
