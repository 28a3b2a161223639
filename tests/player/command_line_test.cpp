#include "command_line.h"

#include <gtest/gtest.h>

namespace vemo::player {
namespace {

OptionResult Build(const std::vector<std::string>& arguments) {
    OptionInput input;
    input.command_line = PosixCommandLine(
        arguments, [](const std::string& path) { return path == "/movie.vem" || path == "/data"; });
    input.screen_width = 1024;
    input.screen_height = 768;
    OptionResult result = BuildPlayerOptions(input);
    result.movies = RestoreSlashes(result.movies);
    return result;
}

TEST(PosixCommandLine, PathsAreNamesAndSwitchesStaySwitches) {
    OptionResult r = Build({"/S", "/L2", "/home/u/a.vem", "rel/b", "/movie.vem"});
    ASSERT_EQ(r.status, OptionStatus::kOk) << r.message;
    EXPECT_TRUE(r.options.show_summary);
    EXPECT_EQ(r.options.loop_count, 2);
    EXPECT_EQ(r.movies.names(), (std::vector<std::string>{"/home/u/a.vem", "rel/b", "/movie.vem"}));
}

TEST(PosixCommandLine, SpacesEmbeddedOffsetsAndUnknownSwitches) {
    OptionResult r = Build({"/home/u/my movie.vem", "/data|1234"});
    ASSERT_EQ(r.status, OptionStatus::kOk) << r.message;
    EXPECT_EQ(r.movies.names(), (std::vector<std::string>{"/home/u/my movie.vem", "/data|1234"}));
    MovieSource source;
    std::string error;
    ASSERT_TRUE(ResolveMovieName(r.movies.names()[1], "", &source, &error));
    EXPECT_EQ(source.kind, MovieSourceKind::kFileAtOffset);
    EXPECT_EQ(source.path, "/data");
    EXPECT_EQ(source.offset, 1234u);
    // A switch the player does not know, not a file: the help, as on Windows.
    EXPECT_EQ(Build({"/Y", "/home/u/a.vem"}).status, OptionStatus::kHelp);
    EXPECT_EQ(Build({"/nothere"}).status, OptionStatus::kHelp);
}

}  // namespace
}  // namespace vemo::player
