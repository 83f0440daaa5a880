#include "sim/Display.h"
#include "sim/LineSettings.h"
#include "sim/SimOptions.h"

#include <gtest/gtest.h>
#include <termios.h>

#include <string>
#include <vector>

namespace vxsim {

namespace {

// Names a table case after its Name field.
struct CaseName {
  template <typename Case>
  std::string operator()(const ::testing::TestParamInfo<Case>& c) const {
    return c.param.Name;
  }
};

// ---------------------------------------------------------------------------------------
// Command line

struct GoodOptionsCase {
  std::string Name;
  std::vector<std::string> Args;
  SimOptions Expected;
};

SimOptions With(void (*change)(SimOptions&)) {
  SimOptions options;
  change(options);
  return options;
}

class GoodOptions : public ::testing::TestWithParam<GoodOptionsCase> {};

TEST_P(GoodOptions, Parse) {
  EXPECT_EQ(ParseSimOptions(GetParam().Args), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, GoodOptions,
    ::testing::Values(
        GoodOptionsCase{"Defaults", {}, SimOptions{}},
        GoodOptionsCase{"SeparateValues",
                        {"--boards", "3", "--link", "/tmp/x", "--log", "f.log"},
                        With([](SimOptions& o) {
                          o.Boards = 3;
                          o.Link = "/tmp/x";
                          o.LogPath = "f.log";
                        })},
        GoodOptionsCase{"InlineValuesAndShortNames",
                        {"--boards=0", "-l", "/tmp/y", "-b", "32", "--drop-ms=0"},
                        With([](SimOptions& o) {
                          o.Boards = 0;
                          o.Link = "/tmp/y";
                          o.BarSize = 32;
                          o.DropMs = 0;
                        })},
        GoodOptionsCase{
            "ReplySilent", {"--reply", "none"}, With([](SimOptions& o) { o.Reply.reset(); })},
        GoodOptionsCase{
            "ReplyHexByte", {"--reply=3a"}, With([](SimOptions& o) { o.Reply = 0x3A; })},
        GoodOptionsCase{
            "ReplyHexPrefix", {"-r", "0x00"}, With([](SimOptions& o) { o.Reply = 0x00; })},
        GoodOptionsCase{"DisplayLastOneWins",
                        {"--display", "--no-display"},
                        With([](SimOptions& o) { o.Display = SimDisplay::Off; })},
        GoodOptionsCase{"MostBoards", {"-n", "409"}, With([](SimOptions& o) { o.Boards = 409; })},
        GoodOptionsCase{"Paced", {"--pace"}, With([](SimOptions& o) { o.Pace = true; })},
        GoodOptionsCase{
            "SlowReader", {"--read-rate=2000"}, With([](SimOptions& o) { o.ReadRate = 2000; })},
        GoodOptionsCase{
            "Stalling", {"--stall-after=3"}, With([](SimOptions& o) { o.StallAfter = 3; })},
        GoodOptionsCase{"ListeningStrip",
                        {"--listen", "ArtNet", "--port=0", "--universe", "0", "--log", "f"},
                        With([](SimOptions& o) {
                          o.Listen = StripProtocol::ArtNet;
                          o.Port = 0;
                          o.Universe = 0;
                          o.LogPath = "f";
                        })},
        GoodOptionsCase{"Help", {"--boards", "1", "-h"}, With([](SimOptions& o) {
                          o.Boards = 1;
                          o.Help = true;
                        })}),
    CaseName());

struct BadOptionsCase {
  std::string Name;
  std::vector<std::string> Args;
  std::string Message;
};

class BadOptions : public ::testing::TestWithParam<BadOptionsCase> {};

TEST_P(BadOptions, AreRefusedWithAReason) {
  try {
    ParseSimOptions(GetParam().Args);
    FAIL() << "accepted";
  } catch (const SimUsageError& e) {
    EXPECT_EQ(std::string(e.what()), GetParam().Message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, BadOptions,
    ::testing::Values(
        BadOptionsCase{
            "NotANumber", {"--boards", "two"}, "--boards needs a whole number, not 'two'"},
        BadOptionsCase{"TooManyBoards", {"--boards", "410"}, "--boards must be 0..409, not 410"},
        BadOptionsCase{"NegativeBoards", {"-n", "-1"}, "-n must be 0..409, not -1"},
        BadOptionsCase{"BarTooLong", {"--bar-size=41"}, "--bar-size must be 1..40, not 41"},
        BadOptionsCase{"ReplyNotHex",
                       {"--reply", "zz"},
                       "--reply takes 'none' or a byte in hex such as FF or 3A, not 'zz'"},
        BadOptionsCase{"ReplyTooWide",
                       {"--reply", "100"},
                       "--reply takes 'none' or a byte in hex such as FF or 3A, not '100'"},
        BadOptionsCase{"MissingValue", {"--link"}, "--link needs a value"},
        BadOptionsCase{"EmptyLink", {"--link="}, "--link needs a path"},
        BadOptionsCase{"FlagWithValue", {"--display=yes"}, "--display takes no value"},
        BadOptionsCase{"ListenUnknownProtocol",
                       {"--listen", "sacn"},
                       "--listen takes ddp, e131 or artnet, not 'sacn'"},
        BadOptionsCase{"E131UniverseZero",
                       {"--listen", "e131", "--universe=0"},
                       "--universe must be 1..63999 for e131, not 0"},
        BadOptionsCase{"ChainOptionWhileListening",
                       {"--boards=3", "--listen", "ddp"},
                       "--boards is for a chain, not with --listen"},
        BadOptionsCase{"PortWithoutListen", {"--port", "4048"}, "--port needs --listen"},
        BadOptionsCase{"Unknown", {"--frobnicate"}, "unknown option '--frobnicate'"},
        BadOptionsCase{"Positional", {"/dev/ttyS0"}, "unexpected argument '/dev/ttyS0'"}),
    CaseName());

// ---------------------------------------------------------------------------------------
// Line settings

struct LineCase {
  std::string Name;
  speed_t Speed;
  tcflag_t Size;          // CS5 .. CS8
  tcflag_t ControlFlags;  // added to a raw line
  tcflag_t InputFlags;
  std::string Expected;
};

class LineSettingsCases : public ::testing::TestWithParam<LineCase> {};

TEST_P(LineSettingsCases, DescribeWhatWasSet) {
  termios tio{};
  cfmakeraw(&tio);
  tio.c_cflag =
      (tio.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | GetParam().Size | GetParam().ControlFlags;
  tio.c_iflag |= GetParam().InputFlags;
  cfsetspeed(&tio, GetParam().Speed);
  EXPECT_EQ(DescribeLineSettings(LineSettingsOf(tio)), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, LineSettingsCases,
    ::testing::Values(LineCase{"Raw115200", B115200, CS8, 0, 0, "115200 8N1 flow=none"},
                      LineCase{"SevenEvenTwoRtsCts", B9600, CS7, PARENB | CSTOPB | CRTSCTS, 0,
                               "9600 7E2 flow=rtscts"},
                      LineCase{"FiveOddXonXoff", B19200, CS5, PARENB | PARODD, IXON | IXOFF,
                               "19200 5O1 flow=xonxoff"},
                      LineCase{"MarkParityBothFlows", B57600, CS8,
                               PARENB | PARODD | CMSPAR | CRTSCTS, IXOFF,
                               "57600 8M1 flow=rtscts+xonxoff"}),
    CaseName());

// ---------------------------------------------------------------------------------------
// Display

TEST(Display, GlyphsGrowWithBrightness) {
  EXPECT_EQ(LEDGlyph(0), "\u00b7");
  EXPECT_EQ(LEDGlyph(1), "\u2591");
  EXPECT_EQ(LEDGlyph(100), "\u2592");
  EXPECT_EQ(LEDGlyph(150), "\u2593");
  EXPECT_EQ(LEDGlyph(254), "\u2588");
}

TEST(Display, EachBoardShowsItsTwoBarsFromTheirSlots) {
  std::vector<std::uint8_t> frame(160, 0);
  // Board 0: bar 0 is slots 0..3 and bar 1 slots 4..7 with bar size 4; slot 8 is no bar's.
  frame[0] = 254;
  frame[3] = 100;
  frame[4] = 254;
  frame[8] = 254;
  // Board 1 starts at byte 80.
  frame[80 + 7] = 254;
  DisplayState state;
  state.Link = "/tmp/link";
  state.Slave = "/dev/pts/9";
  state.Boards = 2;
  state.BarSize = 4;
  state.Frame = frame;

  const std::string screen = RenderDisplay(state, 80, 24);
  EXPECT_NE(screen.find("  0 |\u2588\u00b7\u00b7\u2592| |\u2588\u00b7\u00b7\u00b7|"),
            std::string::npos)
      << screen;
  EXPECT_NE(screen.find("  1 |\u00b7\u00b7\u00b7\u00b7| |\u00b7\u00b7\u00b7\u2588|"),
            std::string::npos)
      << screen;
  EXPECT_NE(screen.find("/tmp/link -> /dev/pts/9"), std::string::npos);
}

TEST(Display, BoardsThatDoNotFitAreCounted) {
  std::vector<std::uint8_t> frame(10 * 80, 0);
  DisplayState state;
  state.Boards = 10;
  state.Frame = frame;
  // Four header lines, then room for three board lines and the count.
  const std::string screen = RenderDisplay(state, 200, 9);
  EXPECT_NE(screen.find("  2 |"), std::string::npos) << screen;
  EXPECT_EQ(screen.find("  3 |"), std::string::npos) << screen;
  EXPECT_NE(screen.find("... 7 more boards"), std::string::npos) << screen;
}

TEST(Display, NarrowTerminalPutsTheBarsOnTwoLines) {
  std::vector<std::uint8_t> frame(80, 0);
  DisplayState state;
  state.Boards = 1;
  state.Frame = frame;
  std::string darkBar = "|";
  for (int i = 0; i < 40; ++i) {
    darkBar += "\u00b7";
  }
  darkBar += "|";
  const std::string screen = RenderDisplay(state, 60, 24);
  EXPECT_NE(screen.find("  0 " + darkBar + "\x1b[K\n    " + darkBar + "\x1b[K\n"),
            std::string::npos)
      << screen;
}

}  // namespace

}  // namespace vxsim
