#include "options.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

namespace vemo::player {
namespace {

// Builds from a resource string and a command line, with a fixed profile.
OptionResult Build(const std::string& resource, const std::string& command_line,
                   const std::string& quick_play = "", bool saver = false) {
    OptionInput input;
    input.resource = resource;
    input.command_line = command_line;
    input.screen_saver = saver;
    input.quick_play = [quick_play] { return quick_play; };
    input.screen_width = 1920;
    input.screen_height = 1080;
    return BuildPlayerOptions(input);
}

PlayerOptions Parse(const std::string& command_line) {
    OptionResult r = Build("", command_line);
    EXPECT_EQ(r.status, OptionStatus::kOk) << command_line << ": " << r.message;
    return r.options;
}

// ---------------------------------------------------------------- switch forms

TEST(OptionTextTest, FlagSwitchNeedsACharacterBelowZeroBehindIt) {
    for (const char* text : {"/z", "/Z", "/z movie", "/z/q", "/z-", "/z.", "/z\"x\""}) {
        OptionText t(text);
        EXPECT_TRUE(t.TakeFlag('z')) << text;
        EXPECT_EQ(std::string(t.view()).find("/z"), std::string::npos) << text;
    }
    OptionText t("/za /z1 /zz");
    EXPECT_FALSE(t.TakeFlag('z'));
    EXPECT_EQ(t.view(), "/za /z1 /zz");
    OptionText u("/za /Z b");  // the first one of the right form is taken
    EXPECT_TRUE(u.TakeFlag('z'));
    EXPECT_EQ(u.view(), "/za  b");
}

TEST(OptionTextTest, NumberSwitchTakesDigitsOrMinusAndDigits) {
    int32_t v = 0;
    OptionText t("a /x /x- /x-25b c");
    EXPECT_TRUE(t.TakeNumber('X', &v));
    EXPECT_EQ(v, -25);
    EXPECT_EQ(t.view(), "a /x /x- b c");
    EXPECT_FALSE(t.TakeNumber('x', &v));

    OptionText big("/e99999999999 /t-99999999999");
    EXPECT_TRUE(big.TakeNumber('e', &v));
    EXPECT_EQ(v, 2147483647);
    EXPECT_TRUE(big.TakeNumber('t', &v));
    EXPECT_EQ(v, -2147483647 - 1);
    EXPECT_EQ(big.view(), " ");
}

TEST(OptionTextTest, RationalSwitchIsAnExactReducedFraction) {
    struct Case {
        const char* text;
        int32_t num, den;
    } cases[] = {
        {"/f29.97", 2997, 100},
        {"/F15", 15, 1},
        {"/f30000;1001", 30000, 1001},
        {"/f25.0", 25, 1},
        {"/f12.5", 25, 2},
        {"/w-2", -2, 1},
        {"/w-1;2", -1, 2},
        {"/h640;2", 320, 1},
        {"/f29.97;1.5", 999, 50},
        {"/f0", 0, 1},
        {"/f0.000001", 1, 1000000},
    };
    for (const Case& c : cases) {
        OptionText t(std::string(c.text) + " rest");
        int32_t n = 0, d = 0;
        ASSERT_TRUE(t.TakeRational(c.text[1], &n, &d)) << c.text;
        EXPECT_EQ(n, c.num) << c.text;
        EXPECT_EQ(d, c.den) << c.text;
        EXPECT_EQ(t.view(), " rest") << c.text;
    }
    // Too many digits for 32 bits: still a positive fraction near the value.
    OptionText t("/f123456789012345.5;3");
    int32_t n = 0, d = 0;
    ASSERT_TRUE(t.TakeRational('f', &n, &d));
    EXPECT_GT(n, 0);
    EXPECT_GT(d, 0);
    EXPECT_TRUE(t.empty());
}

// ---------------------------------------------------------------- cancellations

TEST(CancellationTest, RemovesEveryEarlierSwitchWithItsValue) {
    OptionText t("/r a /l3 /R /L /q /-r /-L b /r");
    t.ApplyCancellations();
    EXPECT_EQ(t.view(), " a    /q   b /r");  // the later /r stays

    OptionText quoted("/x\"a b\"c /-x");
    quoted.ApplyCancellations();
    EXPECT_EQ(quoted.view(), "c ");

    OptionText cut("movie /-");
    cut.ApplyCancellations();
    EXPECT_EQ(cut.view(), "movie ");
}

TEST(CancellationTest, CommandLineSwitchesOffTheResourceOnes) {
    OptionResult r = Build("/r /l0", " movie /-R /-l /l4");
    ASSERT_EQ(r.status, OptionStatus::kOk) << r.message;
    EXPECT_FALSE(r.options.black_background);
    EXPECT_EQ(r.options.window_style, 0);
    EXPECT_EQ(r.options.loop_count, 4);
    EXPECT_EQ(r.movies.names(), std::vector<std::string>{"movie"});

    // Without the cancellation the second /l stays behind: help.
    EXPECT_EQ(Build("/l0", " movie /l4").status, OptionStatus::kHelp);
}

// ---------------------------------------------------------------- building the text

TEST(BuildTest, ResourceIsCutAtTheFirstTildeAndTheCommandLineFollows) {
    std::string resource = "/q ~" + std::string(507, '~');
    OptionResult r = Build(resource, " movie /s");
    ASSERT_EQ(r.status, OptionStatus::kOk) << r.message;
    EXPECT_TRUE(r.options.show_statistics);
    EXPECT_TRUE(r.options.show_summary);
    EXPECT_EQ(r.movies.names(), std::vector<std::string>{"movie"});
}

TEST(BuildTest, TheResourceExampleStartsTheOwnMovie) {
    OptionResult r = Build(":115200 /r /c /d509~~~~~~~~", "");
    ASSERT_EQ(r.status, OptionStatus::kOk) << r.message;
    const PlayerOptions& o = r.options;
    EXPECT_TRUE(o.black_background);
    EXPECT_EQ(o.window_style, 2);
    EXPECT_TRUE(o.hide_cursor);
    EXPECT_EQ(o.screen_width, 800);
    EXPECT_EQ(o.screen_height, 600);
    EXPECT_EQ(o.display_depth_code, 5);
    EXPECT_EQ(o.display_depth, 2);  // 32, 24, then 16
    EXPECT_EQ(o.display_flags, 0x800000u);
    ASSERT_EQ(r.movies.size(), 1u);
    MovieSource source;
    std::string error;
    ASSERT_TRUE(ResolveMovieName(r.movies.names()[0], "/opt/vemo/player.exe", &source, &error));
    EXPECT_EQ(source.kind, MovieSourceKind::kExecutable);
    EXPECT_EQ(source.path, "/opt/vemo/player.exe");
    EXPECT_EQ(source.offset, 115200u);
}

TEST(BuildTest, ATooLongCommandLineIsRefusedNotOverrun) {
    std::string resource(300, 'r');
    // 1023 characters fit in all: 723 behind the resource.
    std::string fits = " " + std::string(722, 'm');
    OptionResult ok = Build(resource, fits);
    ASSERT_EQ(ok.status, OptionStatus::kOk) << ok.message;
    EXPECT_EQ(ok.movies.names()[0].size(), 300u);
    EXPECT_EQ(ok.movies.names()[1].size(), 722u);

    OptionResult r = Build(resource, fits + "m");
    EXPECT_EQ(r.status, OptionStatus::kError);
    EXPECT_NE(r.message.find("too long"), std::string::npos) << r.message;
    EXPECT_NE(r.message.find("724"), std::string::npos) << r.message;
    EXPECT_NE(r.message.find("723"), std::string::npos) << r.message;

    OptionResult huge = Build("", std::string(100000, 'x'));
    EXPECT_EQ(huge.status, OptionStatus::kError);
}

TEST(BuildTest, AScreenSaverIgnoresTheCommandLineAndForcesItsSettings) {
    OptionResult r = Build("movie /l3 /b1 /i1", " /zzz other", "", true);
    ASSERT_EQ(r.status, OptionStatus::kOk) << r.message;
    const PlayerOptions& o = r.options;
    EXPECT_EQ(o.loop_count, 0);
    EXPECT_TRUE(o.black_background);
    EXPECT_EQ(o.window_style, 2);
    EXPECT_TRUE(o.hide_cursor);
    EXPECT_EQ(o.blit_style, 2);
    EXPECT_EQ(o.display_flags & kDisplayOpenStyleMask, 2u);
    EXPECT_EQ(r.movies.names(), std::vector<std::string>{"movie"});
}

TEST(QuickPlayTest, ProfileTextIsParsedButCannotCancel) {
    OptionResult r = Build("", " movie /!", "/q /l2 second");
    ASSERT_EQ(r.status, OptionStatus::kOk) << r.message;
    EXPECT_TRUE(r.options.show_statistics);
    EXPECT_EQ(r.options.loop_count, 2);
    EXPECT_EQ(r.movies.names(), (std::vector<std::string>{"movie", "second"}));

    // Glued behind a name, the profile text still starts a new name.
    OptionResult glued = Build("", " /! movie", "other");
    ASSERT_EQ(glued.status, OptionStatus::kOk) << glued.message;
    EXPECT_EQ(glued.movies.names(), (std::vector<std::string>{"movie", "other"}));

    // The cancellation comes too late: it is left over and asks for help.
    OptionResult late = Build("/r", " movie /!", "/-r");
    EXPECT_EQ(late.status, OptionStatus::kHelp);

    // Without /! the profile is not read at all.
    bool read = false;
    OptionInput input;
    input.command_line = " movie";
    input.quick_play = [&read] {
        read = true;
        return std::string("/q");
    };
    EXPECT_EQ(BuildPlayerOptions(input).status, OptionStatus::kOk);
    EXPECT_FALSE(read);

    // A command line can cancel a /! of the resource.
    OptionResult off = Build("/!", " movie /-!", "/q");
    ASSERT_EQ(off.status, OptionStatus::kOk);
    EXPECT_FALSE(off.options.show_statistics);
}

TEST(QuickPlayTest, ProfileTextIsLimitedAndMustFit) {
    // 300 characters of profile: only the first 256 are used.
    std::string profile = " " + std::string(254, 'p') + "X/zzzzz";
    OptionResult r = Build("", " movie /!", profile);
    ASSERT_EQ(r.status, OptionStatus::kOk) << r.message;
    ASSERT_EQ(r.movies.size(), 2u);
    EXPECT_EQ(r.movies.names()[1], std::string(254, 'p') + "X");  // "/zzzzz" was cut off

    OptionResult full = Build("", " /! " + std::string(1019, 'm'), "/q");
    EXPECT_EQ(full.status, OptionStatus::kError);
    EXPECT_NE(full.message.find("VemoQuickPlay"), std::string::npos);
}

// ---------------------------------------------------------------- switches

TEST(SwitchTest, DefaultsWhenNothingIsGiven) {
    PlayerOptions o = Parse(" movie");
    EXPECT_EQ(o.loop_count, 1);
    EXPECT_EQ(o.parent_window, 0);
    EXPECT_EQ(o.frame_rate_num, -1);
    EXPECT_EQ(o.frame_rate_den, -1);
    EXPECT_EQ(o.track_id, 0);
    EXPECT_EQ(o.read_speed, 0);
    EXPECT_EQ(o.read_buffer_size, -1);
    EXPECT_EQ(o.disabled_controls, 0);
    EXPECT_EQ(o.x, -3000);
    EXPECT_EQ(o.y, -3000);
    EXPECT_EQ(o.width_num, 0);
    EXPECT_EQ(o.height_num, 0);
    EXPECT_EQ(o.screen_width, 1920);
    EXPECT_EQ(o.screen_height, 1080);
    EXPECT_EQ(o.display_depth_code, -1);
    EXPECT_EQ(o.blit_style, 0);
    EXPECT_EQ(o.open_flags, 0u);
    EXPECT_EQ(o.copy_flags, 0u);
    EXPECT_EQ(o.display_flags, 0u);
    EXPECT_FALSE(o.use_wave_out || o.show_summary || o.show_statistics ||
                 o.keep_playing_unfocused || o.black_background || o.hide_cursor);
}

TEST(SwitchTest, LoopCount) {
    EXPECT_EQ(Parse(" movie /L").loop_count, 0);
    EXPECT_EQ(Parse(" movie /L3").loop_count, 3);
    EXPECT_EQ(Parse(" movie").loop_count, 1);
    // The number form wins even when the flag form comes first.
    OptionResult r = Build("", " /l movie /l5");
    EXPECT_EQ(r.status, OptionStatus::kHelp);
}

TEST(SwitchTest, FrameRate) {
    PlayerOptions fast = Parse(" movie /F");
    EXPECT_EQ(fast.frame_rate_num, 0);
    EXPECT_EQ(fast.frame_rate_den, 0);
    EXPECT_EQ(fast.open_flags, 0x1000u);

    PlayerOptions f15 = Parse(" movie /F15");
    EXPECT_EQ(f15.frame_rate_num, 15);
    EXPECT_EQ(f15.frame_rate_den, 1);
    EXPECT_EQ(f15.open_flags, 0x1000u);

    PlayerOptions ntsc = Parse(" /f29.97 movie");
    EXPECT_EQ(ntsc.frame_rate_num, 2997);
    EXPECT_EQ(ntsc.frame_rate_den, 100);

    PlayerOptions exact = Parse(" /f30000;1001 movie");
    EXPECT_EQ(exact.frame_rate_num, 30000);
    EXPECT_EQ(exact.frame_rate_den, 1001);

    EXPECT_EQ(Build("", " movie /f-30").status, OptionStatus::kError);
}

TEST(SwitchTest, TrackSpeedBufferControlsAndWindow) {
    EXPECT_EQ(Parse(" movie /T0").open_flags, 0u);
    PlayerOptions t = Parse(" movie /T2");
    EXPECT_EQ(t.track_id, 2);
    EXPECT_EQ(t.open_flags, 0x4000u);

    PlayerOptions m = Parse(" movie /m100000 /e0");
    EXPECT_EQ(m.read_speed, 100000);
    EXPECT_EQ(m.read_buffer_size, 0);
    EXPECT_EQ(m.open_flags, 0x400000u | 0x1000000u);
    EXPECT_EQ(Parse(" movie /m0").open_flags, 0u);
    EXPECT_EQ(Build("", " movie /m-5").status, OptionStatus::kError);
    EXPECT_EQ(Build("", " movie /e-5").status, OptionStatus::kError);

    PlayerOptions u = Parse(" movie /u6 /i101 /#1234 /x-20 /y30");
    EXPECT_EQ(u.disabled_controls, 6);
    EXPECT_EQ(u.always_on_top, 1);
    EXPECT_EQ(u.window_style, 1);
    EXPECT_EQ(u.parent_window, 1234);
    EXPECT_EQ(u.x, -20);
    EXPECT_EQ(u.y, 30);

    // /R comes after /I and forces window style 2.
    PlayerOptions r = Parse(" movie /i1 /r");
    EXPECT_TRUE(r.black_background);
    EXPECT_EQ(r.window_style, 2);
}

TEST(SwitchTest, PlainFlags) {
    PlayerOptions o = Parse(" /z/s/q/j/c movie /N /G /P /K");
    EXPECT_TRUE(o.use_wave_out);
    EXPECT_TRUE(o.show_summary);
    EXPECT_TRUE(o.show_statistics);
    EXPECT_TRUE(o.keep_playing_unfocused);
    EXPECT_TRUE(o.hide_cursor);
    EXPECT_FALSE(o.black_background);
    EXPECT_EQ(o.open_flags, 0x80000u | 0x200000u | 0x2000u | 0x8000000u);
}

TEST(SwitchTest, DisplayOptions) {
    PlayerOptions a = Parse(" movie /A1105");
    EXPECT_EQ(a.open_flags, 0x100000u | 0x20000u | 0x50000000u);
    EXPECT_EQ(a.copy_flags, 0x100800u);
    EXPECT_EQ(Parse(" movie /A8").open_flags, 0x70000000u);
    EXPECT_EQ(Parse(" movie /A3").open_flags, 0x30000000u);
    EXPECT_EQ(Parse(" movie /A100").open_flags, 0x20000u);
    EXPECT_EQ(Parse(" movie /A1000").copy_flags, 0x100800u);
    // 2105: neither thousands nor hundreds are 1, so the mode is min(2105, 7).
    PlayerOptions odd = Parse(" movie /A2105");
    EXPECT_EQ(odd.open_flags, 0x70000000u);
    EXPECT_EQ(odd.copy_flags, 0u);
    EXPECT_EQ(Build("", " movie /a-1").status, OptionStatus::kError);
}

TEST(SwitchTest, DisplayModeAndBlitStyle) {
    PlayerOptions d = Parse(" movie /d8");
    EXPECT_EQ(d.screen_width, 640);
    EXPECT_EQ(d.screen_height, 480);
    EXPECT_EQ(d.display_depth, 16);
    EXPECT_EQ(d.display_flags, 0x800000u);
    PlayerOptions d2 = Parse(" movie /d613");
    EXPECT_EQ(d2.screen_width, 1280);
    EXPECT_EQ(d2.screen_height, 1024);
    EXPECT_EQ(d2.display_depth, 3);
    EXPECT_EQ(Parse(" movie /d301").display_depth, 8);
    EXPECT_EQ(Parse(" movie /d0").display_flags, 0u);
    for (const char* bad : {" movie /d14", " movie /d100", " movie /d709", " movie /d-8"}) {
        OptionResult r = Build("", bad);
        EXPECT_EQ(r.status, OptionStatus::kError) << bad;
        EXPECT_NE(r.message.find("/D"), std::string::npos) << r.message;
    }

    PlayerOptions b = Parse(" movie /b10 /d509");
    EXPECT_EQ(b.blit_style, 10);
    EXPECT_EQ(b.display_flags, 0x800000u | 10u);
    EXPECT_EQ(Build("", " movie /b11").status, OptionStatus::kError);
}

TEST(SwitchTest, OutputSizeSwitches) {
    PlayerOptions o = Parse(" movie /w-1 /h480;2");
    EXPECT_EQ(o.width_num, -1);
    EXPECT_EQ(o.width_den, 1);
    EXPECT_EQ(o.height_num, 240);
    EXPECT_EQ(o.height_den, 1);
    EXPECT_EQ(Build("", " movie /w640;0").status, OptionStatus::kError);
}

// ---------------------------------------------------------------- help

TEST(HelpTest, LeftoverSlashOrNothingToPlayAsksForHelp) {
    EXPECT_EQ(Build("", " movie /v").status, OptionStatus::kHelp);
    EXPECT_EQ(Build("", " movie /").status, OptionStatus::kHelp);
    EXPECT_EQ(Build("", " dir/movie").status, OptionStatus::kHelp);
    EXPECT_EQ(Build("", " /Z").status, OptionStatus::kHelp);
    EXPECT_EQ(Build("", "").status, OptionStatus::kHelp);
    EXPECT_EQ(Build("", " \t \r\n").status, OptionStatus::kHelp);
    EXPECT_EQ(Build("~~~", "").status, OptionStatus::kHelp);
    EXPECT_EQ(Build("", " \"\"").status, OptionStatus::kHelp);
    EXPECT_EQ(Build("", " dir\\movie").status, OptionStatus::kOk);
}

TEST(HelpTest, TextIsTheFixedBlock) {
    std::vector<std::string> lines;
    std::istringstream in(HelpText());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 2u + 36u);
    EXPECT_NE(lines[0].find("VemoPlay"), std::string::npos);
    EXPECT_NE(lines[0].find("1.8c"), std::string::npos);
    EXPECT_EQ(lines[1], "  SYNTAX: VemoPlay <Vemo1 Vemo2 ...> [/Switches]:");

    const std::string forms[] = {"/P",    "/L##",  "/F#.#", "/T##", "/Z",   "/S",   "/X##", "/Y##",
                                 "/W#.#", "/H#.#", "/R",    "/C",   "/M##", "/E##", "/G",   "/K",
                                 "/U##",  "/N",    "/Q",    "/J",   "/I#",  "/A##", "/D##", "/B##"};
    size_t next_form = 0;
    size_t tab_column = std::string::npos;
    for (size_t i = 2; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        size_t tab = line.find('\t');
        ASSERT_NE(tab, std::string::npos) << line;
        if (tab_column == std::string::npos) tab_column = tab;
        EXPECT_EQ(tab, tab_column) << line;  // all forms padded to one width
        if (line.compare(tab, 3, "\t- ") == 0) {
            ASSERT_LT(next_form, std::size(forms));
            EXPECT_EQ(line.substr(0, 4), "    ") << line;
            std::string form = line.substr(4, tab - 4);
            EXPECT_EQ(form.substr(0, forms[next_form].size()), forms[next_form]);
            EXPECT_EQ(form.find_first_not_of(' ', forms[next_form].size()), std::string::npos);
            ++next_form;
        } else {
            EXPECT_EQ(line.substr(0, tab), std::string(tab, ' ')) << line;
            EXPECT_EQ(line.compare(tab, 5, "\t    "), 0) << line;
            EXPECT_NE(line[tab + 5], ' ') << line;
        }
    }
    EXPECT_EQ(next_form, std::size(forms));
    EXPECT_NE(HelpText().find("\t- Loop the animation (just/L for infinite).\n"),
              std::string::npos);
    EXPECT_NE(HelpText().find("\t    scaling (i.e. for 2x, use '/w-2').  For full screen, use "
                              "-1 ('/w-1').\n"),
              std::string::npos);
    EXPECT_NE(HelpText().find("\t- Specified the amount of memory for read buffering.\n"),
              std::string::npos);
    EXPECT_NE(HelpText().find("\t    and 600 for true-color only (32, then 24).\n"),
              std::string::npos);
#ifdef _WIN32
    EXPECT_EQ(lines.back(),
              std::string(tab_column, ' ') + "\t    10=DirectDraw RGB system memory off-screen.");
#else
    EXPECT_EQ(lines.back(), std::string(tab_column, ' ') +
                                "\t    on the accelerated renderer, 10=SDL RGB texture on the "
                                "software renderer.");
#endif
}

// The help names the styles and sound back ends of the system it runs on.
TEST(HelpTest, NamesThisSystemsBackEnds) {
    const std::string& text = HelpText();
#ifdef _WIN32
    const char* const ours[] = {"waveOut", "DirectSound", "DirectDraw", "DIBSection"};
    const char* const theirs[] = {"SDL"};
#else
    const char* const ours[] = {"SDL queued sound", "SDL looping buffer", "1=SDL window surface",
                                "2=SDL software", "6=YV12 texture through a render target"};
    const char* const theirs[] = {"waveOut", "DirectSound", "DirectDraw", "DIBSection", "overlay"};
#endif
    for (const char* word : ours) EXPECT_NE(text.find(word), std::string::npos) << word;
    for (const char* word : theirs) EXPECT_EQ(text.find(word), std::string::npos) << word;
}

// ---------------------------------------------------------------- movie names

TEST(MovieNameTest, SeparatorsAndQuotes) {
    using Names = std::vector<std::string>;
    EXPECT_EQ(SplitMovieNames("a b"), (Names{"a", "b"}));
    EXPECT_EQ(SplitMovieNames("a, b"), (Names{"a", "b"}));
    EXPECT_EQ(SplitMovieNames("a ,b"), (Names{"a", "b"}));
    EXPECT_EQ(SplitMovieNames("a,b"), (Names{"a,b"}));
    EXPECT_EQ(SplitMovieNames("  a\t\r\n b  "), (Names{"a", "b"}));
    EXPECT_EQ(SplitMovieNames("\"my movie\" b"), (Names{"my movie", "b"}));
    EXPECT_EQ(SplitMovieNames("\"my movie\", \"your movie"), (Names{"my movie", "your movie"}));
    EXPECT_EQ(SplitMovieNames("\"\" , "), Names{});
}

TEST(MovieNameTest, DefaultExtensionOnTheLastComponentOnly) {
    auto open = [](const std::string& name) {
        MovieSource s;
        std::string error;
        EXPECT_TRUE(ResolveMovieName(name, "", &s, &error)) << name;
        EXPECT_EQ(s.kind, MovieSourceKind::kFile);
        return s.path;
    };
    EXPECT_EQ(open("movie"), "movie.vem");
    EXPECT_EQ(open("movie.dat"), "movie.dat");
    EXPECT_EQ(open("dir.x\\movie"), "dir.x\\movie.vem");
    EXPECT_EQ(open("dir.x/movie"), "dir.x/movie.vem");
    EXPECT_EQ(open("dir\\movie.x"), "dir\\movie.x");
    EXPECT_EQ(open("my movie"), "my movie.vem");
}

TEST(MovieNameTest, EmbeddedForms) {
    MovieSource s;
    std::string error;
    ASSERT_TRUE(ResolveMovieName("game.dat|4096", "", &s, &error));
    EXPECT_EQ(s.kind, MovieSourceKind::kFileAtOffset);
    EXPECT_EQ(s.path, "game.dat");
    EXPECT_EQ(s.offset, 4096u);
    ASSERT_TRUE(ResolveMovieName("data|5000000000", "", &s, &error));
    EXPECT_EQ(s.path, "data");  // opened as named
    EXPECT_EQ(s.offset, 5000000000u);
    ASSERT_TRUE(ResolveMovieName(":0", "self.exe", &s, &error));
    EXPECT_EQ(s.kind, MovieSourceKind::kExecutable);
    EXPECT_EQ(s.path, "self.exe");
    EXPECT_EQ(s.offset, 0u);

    for (const char* bad : {"game.dat|", "game.dat|12x", ":", ":-5", "a|99999999999999999999"}) {
        error.clear();
        EXPECT_FALSE(ResolveMovieName(bad, "self.exe", &s, &error)) << bad;
        EXPECT_NE(error.find(bad), std::string::npos) << error;
    }
}

TEST(MovieNameTest, ListIsSavedForLooping) {
    OptionResult r = Build("", " one, two \"three 3\"");
    ASSERT_EQ(r.status, OptionStatus::kOk);
    MovieList& list = r.movies;
    EXPECT_EQ(list.size(), 3u);
    EXPECT_EQ(list.TakeNext(), "one");
    EXPECT_EQ(list.TakeNext(), "two");
    EXPECT_TRUE(list.HasNext());
    EXPECT_EQ(list.TakeNext(), "three 3");
    EXPECT_FALSE(list.HasNext());
    EXPECT_EQ(list.TakeNext(), "");
    list.Restart();
    EXPECT_EQ(list.TakeNext(), "one");
    list.Clear();
    EXPECT_FALSE(list.HasNext());
    EXPECT_EQ(list.size(), 3u);
}

TEST(CommandLineTest, TailAfterTheProgramNameAndJoinedArguments) {
    EXPECT_EQ(CommandLineTail("\"C:\\Program Files\\VemoPlay.exe\" movie /l"), " movie /l");
    EXPECT_EQ(CommandLineTail("  VemoPlay.exe  a b"), "  a b");
    EXPECT_EQ(CommandLineTail("VemoPlay.exe"), "");
    EXPECT_EQ(CommandLineTail("\"unterminated"), "");
    const char* argv[] = {"vemoplay", "my movie", "/l3", "b"};
    EXPECT_EQ(JoinArguments(4, argv), " \"my movie\" /l3 b");
    OptionResult r = Build("/r", JoinArguments(4, argv));
    ASSERT_EQ(r.status, OptionStatus::kOk) << r.message;
    EXPECT_EQ(r.options.loop_count, 3);
    EXPECT_EQ(r.movies.names(), (std::vector<std::string>{"my movie", "b"}));
}

// ---------------------------------------------------------------- open settings

TEST(OpenSettingsTest, OnlyWhatWasGiven) {
    OpenSettings none = OpenSettingsFor(Parse(" movie"));
    EXPECT_FALSE(none.frame_rate || none.tracks || none.read_speed || none.read_buffer_size);
    // /T0 and /M0 are the defaults: nothing to hand over.
    OpenSettings zero = OpenSettingsFor(Parse(" movie /t0 /m0"));
    EXPECT_FALSE(zero.tracks || zero.read_speed);

    OpenSettings all = OpenSettingsFor(Parse(" movie /f /t-1 /m5000 /e65536"));
    ASSERT_TRUE(all.frame_rate);
    EXPECT_EQ(all.frame_rate->numerator, 0);
    EXPECT_EQ(all.frame_rate->denominator, 0);
    ASSERT_TRUE(all.tracks);
    EXPECT_EQ(*all.tracks, (std::vector<uint32_t>{0xFFFFFFFFu}));
    EXPECT_EQ(all.read_speed, 5000);
    EXPECT_EQ(all.read_buffer_size, 65536);
    EXPECT_EQ(OpenSettingsFor(Parse(" movie /f29.97")).frame_rate->numerator, 2997);
}

// ---------------------------------------------------------------- output size

OutputSize Size(const std::string& switches, int32_t mw, int32_t mh, uint32_t mode = 0,
                int32_t sw = 1024, int32_t sh = 768) {
    return ComputeOutputSize(Parse(" movie " + switches), mw, mh, mode, sw, sh);
}

TEST(OutputSizeTest, KeepsTheMovieSizeByDefault) {
    OutputSize s = Size("", 320, 240);
    EXPECT_EQ(s.width, 320);
    EXPECT_EQ(s.height, 240);
    EXPECT_EQ(s.scaling_flags, 0u);
    EXPECT_EQ(s.scaling_mode, 0);
    EXPECT_EQ(s.movie_width, 320);
    EXPECT_EQ(s.movie_height, 240);
}

TEST(OutputSizeTest, CapabilityBitsForEachDimension) {
    struct Case {
        const char* switches;
        int32_t w, h;
        uint32_t flags;
    } cases[] = {
        {"/w960 /h720", 960, 720, 0x80000000u | 0x08000000u},  // integer multiples
        {"/w-3 /h-3", 960, 720, 0x80000000u | 0x08000000u},
        {"/w160 /h80", 160, 80, 0x20000000u | 0x02000000u},  // exact divisors
        {"/w-1;2 /h-1;3", 160, 80, 0x20000000u | 0x02000000u},
        {"/w500 /h300", 500, 300, 0x40000000u | 0x04000000u},  // stretch up
        {"/w200 /h100", 200, 100, 0x10000000u | 0x01000000u},  // stretch down
        {"/w-1 /h240", 1024, 240, 0x40000000u},                // full screen width only
        {"/w320 /h-1", 320, 768, 0x04000000u},
        {"/w-3;2 /h-3;2", 480, 360, 0x40000000u | 0x04000000u},
    };
    for (const Case& c : cases) {
        OutputSize s = Size(c.switches, 320, 240);
        EXPECT_EQ(s.width, c.w) << c.switches;
        EXPECT_EQ(s.height, c.h) << c.switches;
        EXPECT_EQ(s.scaling_flags, c.flags) << c.switches;
        EXPECT_EQ(s.scaling_mode, 0) << c.switches;
        EXPECT_EQ(s.movie_width, 320) << c.switches;
    }
}

TEST(OutputSizeTest, FullScreenBothWaysKeepsTheAspectRatio) {
    // 4:3 on a wide screen: the height fills, the width follows.
    OutputSize wide = Size("/w-1 /h-1", 320, 240, 0, 1920, 1080);
    EXPECT_EQ(wide.width, 1440);
    EXPECT_EQ(wide.height, 1080);
    // 2.35:1 on a 4:3 screen: the width would not fit, so it fills instead.
    OutputSize tall = Size("/w-1 /h-1", 470, 200, 0, 1024, 768);
    EXPECT_EQ(tall.width, 1024);
    EXPECT_EQ(tall.height, 200 * 1024 / 470);
    EXPECT_EQ(tall.scaling_flags, 0x40000000u | 0x04000000u);
    // A screen exactly twice the movie: integer stretching.
    OutputSize twice = Size("/w-1 /h-1", 512, 384, 3, 1024, 768);
    EXPECT_EQ(twice.scaling_flags, 0x80000000u | 0x08000000u);
}

TEST(OutputSizeTest, DoublingBecomesTheMoviesScalingMode) {
    struct Case {
        const char* switches;
        int32_t mode, w, h;
    } cases[] = {
        {"/h480", 1, 320, 480},
        {"/w-2", 3, 640, 240},
        {"/w640 /h-2", 4, 640, 480},
    };
    for (const Case& c : cases) {
        OutputSize s = Size(c.switches, 320, 240);
        EXPECT_EQ(s.scaling_mode, c.mode) << c.switches;
        EXPECT_EQ(s.scaling_flags, 0u) << c.switches;
        EXPECT_EQ(s.width, c.w);
        EXPECT_EQ(s.height, c.h);
        EXPECT_EQ(s.movie_width, c.w);
        EXPECT_EQ(s.movie_height, c.h);
    }
    // Header mode 7 means none: the doubling still becomes a mode.
    EXPECT_EQ(Size("/w-2 /h-2", 320, 240, 7).scaling_mode, 4);
    // A movie with a mode of its own is stretched by the display instead.
    OutputSize own = Size("/w-2 /h-2", 320, 240, 2);
    EXPECT_EQ(own.scaling_mode, 0);
    EXPECT_EQ(own.scaling_flags, 0x80000000u | 0x08000000u);
    EXPECT_EQ(own.movie_width, 320);
    // Full screen on a screen of exactly double size also doubles by copying.
    OutputSize full = Size("/w-1 /h-1", 512, 384, 0, 1024, 768);
    EXPECT_EQ(full.scaling_mode, 4);
    EXPECT_EQ(full.scaling_flags, 0u);
}

TEST(OutputSizeTest, SizesStayPositive) {
    OutputSize s = Size("/w1;3 /h-1;1000", 320, 240);
    EXPECT_EQ(s.width, 1);
    EXPECT_EQ(s.height, 1);
    EXPECT_EQ(s.scaling_flags, 0x20000000u | 0x02000000u);
    OutputSize big = Size("/w-2147483647 /h2147483647", 4000, 4000);
    EXPECT_EQ(big.width, 2147483647);
    EXPECT_EQ(big.height, 2147483647);
}

// ---------------------------------------------------------------- robustness

TEST(RobustnessTest, RandomOptionTextsNeverBreakTheBuffer) {
    const std::string alphabet =
        "/-!#\"~ ,.;|:0123456789lLfFtTmMeEuUiIzZsSqQjJrRcCnNgGpPkKaAxXyYwWhHdDbBv";
    std::mt19937 rng(12345);
    for (int round = 0; round < 3000; ++round) {
        auto random_text = [&](size_t max) {
            std::string s(rng() % max, ' ');
            for (char& c : s) c = alphabet[rng() % alphabet.size()];
            return s;
        };
        std::string resource = random_text(600);
        std::string command = random_text(round % 10 == 0 ? 1200 : 300);
        std::string profile = random_text(400);
        OptionResult r = Build(resource, command, profile);
        if (r.status == OptionStatus::kOk) {
            ASSERT_GT(r.movies.size(), 0u);
            for (const std::string& name : r.movies.names()) {
                EXPECT_EQ(name.find('/'), std::string::npos);
                EXPECT_FALSE(name.empty());
                MovieSource s;
                std::string error;
                ResolveMovieName(name, "self", &s, &error);
            }
            const PlayerOptions& o = r.options;
            EXPECT_LE(o.blit_style, 10);
            EXPECT_GE(o.blit_style, 0);
            OutputSize size =
                ComputeOutputSize(o, 1 + static_cast<int32_t>(rng() % 2000),
                                  1 + static_cast<int32_t>(rng() % 2000), rng() % 8, 1024, 768);
            EXPECT_GE(size.width, 1);
            EXPECT_GE(size.height, 1);
        } else {
            EXPECT_FALSE(r.message.empty());
        }
    }
}

}  // namespace
}  // namespace vemo::player
