#include "saver.h"

#include <gtest/gtest.h>

namespace vemo::player {
namespace {

TEST(SaverDetection, NameEndsInScrInAnyCase) {
    EXPECT_TRUE(IsScreenSaverPath("/home/u/movie.SCR"));
    EXPECT_TRUE(IsScreenSaverPath("C:\\x\\movie.scr"));
    EXPECT_TRUE(IsScreenSaverPath("\"C:\\x\\movie.Scr\""));  // one trailing quote ignored
    EXPECT_FALSE(IsScreenSaverPath("movie.scr.exe"));
    EXPECT_FALSE(IsScreenSaverPath(".scr"));  // not longer than four characters
    EXPECT_TRUE(IsScreenSaverPath("a.scr"));
    EXPECT_FALSE(IsScreenSaverPath("vemoplay"));
    // Only the first 255 characters of the path count.
    std::string long_path(252, 'a');
    EXPECT_TRUE(IsScreenSaverPath(long_path + "scr"));
    EXPECT_FALSE(IsScreenSaverPath(long_path + "xxscr"));
}

TEST(SaverArgument, Switches) {
    EXPECT_EQ(ParseSaverArgument("").action, SaverAction::kRun);
    EXPECT_EQ(ParseSaverArgument(" /x").action, SaverAction::kRun);
    EXPECT_EQ(ParseSaverArgument(" /S").mode, 2u);
    EXPECT_EQ(ParseSaverArgument(" -c").action, SaverAction::kConfigure);
    EXPECT_EQ(ParseSaverArgument(" /c:1234").action, SaverAction::kConfigure);
    SaverArgument preview = ParseSaverArgument(" /p 62914567");
    EXPECT_EQ(preview.action, SaverAction::kPreview);
    EXPECT_EQ(preview.parent, 62914567u);
    EXPECT_EQ(ParseSaverArgument(" /P:77").parent, 77u);
    EXPECT_EQ(ParseSaverArgument(" /p").action, SaverAction::kExit);
    EXPECT_EQ(ParseSaverArgument(" /p   ").action, SaverAction::kExit);
    // A number too long for any handle does not overflow.
    EXPECT_EQ(ParseSaverArgument(" /p 99999999999999999999999999").action, SaverAction::kPreview);
}

TEST(VersionCheck, DateArithmetic) {
    EXPECT_EQ(DateText(TwoMonthsBefore({2005, 7, 21})), "2005-05-21");
    EXPECT_EQ(DateText(TwoMonthsBefore({2006, 2, 3})), "2005-12-03");
    EXPECT_EQ(DateText(TwoMonthsBefore({2006, 1, 31})), "2005-11-31");  // the day is kept as it is
    EXPECT_EQ(DateText(AWeekBefore({2006, 3, 8})), "2006-03-01");
    EXPECT_EQ(DateText(AWeekBefore({2006, 3, 7})), "2006-02-30");
    EXPECT_EQ(DateText(AWeekBefore({2006, 1, 2})), "2005-12-25");
}

TEST(VersionCheck, NoPromptInTheFirstTwoMonthsNorTwiceAWeek) {
    EXPECT_FALSE(VersionCheckDue({2005, 7, 21}, kBuildDate));  // A equals the build date
    EXPECT_TRUE(VersionCheckDue({2005, 7, 22}, kBuildDate));
    EXPECT_FALSE(VersionCheckDue({2026, 12, 9}, "2026-12-08"));  // checked yesterday
    EXPECT_FALSE(VersionCheckDue({2026, 12, 9}, "2026-12-02"));  // exactly a week: not earlier
    EXPECT_TRUE(VersionCheckDue({2026, 12, 9}, "2026-12-01"));
    EXPECT_TRUE(VersionCheckDue({2026, 12, 9}, ""));  // nothing stored
}

TEST(SaverMouse, SixthMoveToANewPositionEndsTheSaver) {
    SaverMouseWatch watch;
    EXPECT_FALSE(watch.Moved(10, 10));  // where the mouse rests
    for (int i = 1; i <= 5; ++i) {
        EXPECT_FALSE(watch.Moved(10 + i, 10));
        EXPECT_FALSE(watch.Moved(10 + i, 10));  // the same position does not count
    }
    EXPECT_TRUE(watch.Moved(20, 20));
    EXPECT_FALSE(watch.Moved(21, 20));  // the count starts over
}

TEST(VersionCheck, AddressIsBuiltFromTheSite) {
    EXPECT_EQ(VersionCheckAddress(), std::string(kMakerSite) + "/scripts/vemover.asp?ver=1.8c");
}

}  // namespace
}  // namespace vemo::player
