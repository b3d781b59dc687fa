// virtual-board's report of what the frame decoder finds: how each run of bytes on the line is
// told, event by event and in the summary, and how the line's settings are told.
#include "board/board_report.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "board/line_pace.h"
#include "board/line_settings.h"
#include "firmware/steer_board/frame_decoder.h"
#include "tests/decoded.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Collects what a report writes.
class Written {
 public:
  Written() : file_(open_memstream(&text_, &size_)) {}
  ~Written() {
    if (file_ != nullptr) (void)std::fclose(file_);
    std::free(text_);  // NOLINT(cppcoreguidelines-no-malloc): open_memstream's buffer
  }
  Written(const Written&) = delete;
  Written& operator=(const Written&) = delete;

  std::FILE* file() const { return file_; }
  std::string text() {
    (void)std::fflush(file_);
    return {text_, size_};
  }

 private:
  char* text_ = nullptr;
  size_t size_ = 0;
  std::FILE* file_;
};

// Every line the report told at 1.5 s, without that time; each must carry it.
std::string untimed(const std::string& text) {
  std::istringstream lines(text);
  std::string all;
  for (std::string line; std::getline(lines, line);) {
    const std::string at = "    1.500s  ";
    EXPECT_EQ(line.rfind(at, 0), 0U) << line;
    all += line.substr(std::min(at.size(), line.size())) + "\n";
  }
  return all;
}

// The summary's counts, without the times, rates and pacing that the runs above cannot vary.
std::string counts(const std::string& json) {
  const size_t from = json.find(", \"duration\": ");
  const size_t to = json.find(", \"exit_status\": ");
  if (from == std::string::npos || to == std::string::npos || to < from) return json;
  return json.substr(0, from) + json.substr(to);
}

struct Told {
  std::string lines;  // up to the summary, without times
  std::string json;
};

// What virtual-board tells of `bytes`, all received at 1.5 s by a program that ends with 0.
Told report(const Bytes& bytes) {
  Written out;
  board::Report report(out.file(), board::LineSettings{}, false);
  for (const std::uint8_t byte : bytes) report.arrived(byte, 1.5);
  report.quiet(1.5);
  report.end(1.5, 0, 0);
  const std::string text = out.text();
  return {untimed(text.substr(0, text.find("summary\n"))), board::summaryJson(report.tally(), 0)};
}

struct Case {
  const char* name;
  Bytes bytes;
  const char* events;
  const char* told;  // the report's lines, the last one the program's end
  const char* json;  // the summary
};

const Case cases[] = {
    {"WholeFramesOfEachCode",
     {0x32, 0x81, 0x32, 0x82, 0x32, 0x83, 0x32, 0x84, 0x64, 0x85},
     "frame 32 81\nframe 32 82\nframe 32 83\nframe 32 84\nframe 64 85\n",
     "32 81  frame, code 1 object right, power 50\n"
     "32 82  frame, code 2 object left, power 50\n"
     "32 83  frame, code 3 goal left, power 50\n"
     "32 84  frame, code 4 goal right, power 50\n"
     "64 85  frame, code 5 aligned, power 100\n"
     "end    exit status 0\n",
     R"({"bytes": 10, "frames": {"1": 1, "2": 1, "3": 1, "4": 1, "5": 1}, "stops": 0, )"
     R"("frames_cut_off": 0, "lone_power_bytes": 0, "stray_bytes": 0, "baud": null, "exit_status": 0})"},
    {"PowerZeroIsStillAFrame",
     {0x00, 0x81},
     "frame 00 81\n",
     "00 81  frame, code 1 object right, power 0\nend    exit status 0\n",
     R"({"bytes": 2, "frames": {"1": 1, "2": 0, "3": 0, "4": 0, "5": 0}, "stops": 0, )"
     R"("frames_cut_off": 0, "lone_power_bytes": 0, "stray_bytes": 0, "baud": null, "exit_status": 0})"},
    {"StopWithItsNul",
     {0x32, 0x84, 0x00, 0x80},
     "frame 32 84\nstop 00 80\n",
     "32 84  frame, code 4 goal right, power 50\n00 80  stop\nend    exit status 0\n",
     R"({"bytes": 4, "frames": {"1": 0, "2": 0, "3": 0, "4": 1, "5": 0}, "stops": 1, )"
     R"("frames_cut_off": 0, "lone_power_bytes": 0, "stray_bytes": 0, "baud": null, "exit_status": 0})"},
    {"StopWithoutItsNul",
     {0x32, 0x84, 0x80},
     "frame 32 84\nstop 80\n",
     "32 84  frame, code 4 goal right, power 50\n80     stop, without its 00\n"
     "end    exit status 0\n",
     R"({"bytes": 3, "frames": {"1": 0, "2": 0, "3": 0, "4": 1, "5": 0}, "stops": 1, )"
     R"("frames_cut_off": 0, "lone_power_bytes": 0, "stray_bytes": 0, "baud": null, "exit_status": 0})"},
    {"StopsInARowAreEachTold",
     {0x80, 0x80},
     "stop 80\nstop 80\n",
     "80     stop, without its 00\n80     stop, without its 00\nend    exit status 0\n",
     R"({"bytes": 2, "frames": {"1": 0, "2": 0, "3": 0, "4": 0, "5": 0}, "stops": 2, )"
     R"("frames_cut_off": 0, "lone_power_bytes": 0, "stray_bytes": 0, "baud": null, "exit_status": 0})"},
    {"PowerCutOffByAStop",
     {0x32, 0x00, 0x80},
     "lone-power 32\nstop 00 80\n",
     "32     power 50, its frame cut off by the stop\n00 80  stop\nend    exit status 0\n",
     R"({"bytes": 3, "frames": {"1": 0, "2": 0, "3": 0, "4": 0, "5": 0}, "stops": 1, )"
     R"("frames_cut_off": 1, "lone_power_bytes": 0, "stray_bytes": 0, "baud": null, "exit_status": 0})"},
    {"PowerCutOffByAStopWithoutItsNul",
     {0x32, 0x80},
     "lone-power 32\nstop 80\n",
     "32     power 50, its frame cut off by the stop\n80     stop, without its 00\n"
     "end    exit status 0\n",
     R"({"bytes": 2, "frames": {"1": 0, "2": 0, "3": 0, "4": 0, "5": 0}, "stops": 1, )"
     R"("frames_cut_off": 1, "lone_power_bytes": 0, "stray_bytes": 0, "baud": null, "exit_status": 0})"},
    {"PowerCutOffByAnotherPower",
     {0x32, 0x64, 0x85},
     "lone-power 32\nframe 64 85\n",
     "32     power 50 whose direction byte never came\n64 85  frame, code 5 aligned, power 100\n"
     "end    exit status 0\n",
     R"({"bytes": 3, "frames": {"1": 0, "2": 0, "3": 0, "4": 0, "5": 1}, "stops": 0, )"
     R"("frames_cut_off": 0, "lone_power_bytes": 1, "stray_bytes": 0, "baud": null, "exit_status": 0})"},
    {"PowerCutOffByTheEnd",
     {0x32, 0x81, 0x32},
     "frame 32 81\nlone-power 32\n",
     "32 81  frame, code 1 object right, power 50\n32     power 50 whose direction byte never "
     "came\nend    exit status 0\n",
     R"({"bytes": 3, "frames": {"1": 1, "2": 0, "3": 0, "4": 0, "5": 0}, "stops": 0, )"
     R"("frames_cut_off": 0, "lone_power_bytes": 1, "stray_bytes": 0, "baud": null, "exit_status": 0})"},
    {"TestBytesOfTheLinkProbe",
     {0x01, 0x01, 0x01},
     "lone-power 01\nlone-power 01\nlone-power 01\n",
     "01     power 1 whose direction byte never came\nend    exit status 0  (before: 01 x 3)\n",
     R"({"bytes": 3, "frames": {"1": 0, "2": 0, "3": 0, "4": 0, "5": 0}, "stops": 0, )"
     R"("frames_cut_off": 0, "lone_power_bytes": 3, "stray_bytes": 0, "baud": null, "exit_status": 0})"},
    {"DirectionWithoutPower",
     {0x81, 0x32, 0x85, 0x85},
     "lone-direction 81\nframe 32 85\nlone-direction 85\n",
     "81     direction byte, code 1 object right, with no power byte before it\n"
     "32 85  frame, code 5 aligned, power 50\n"
     "85     direction byte, code 5 aligned, with no power byte before it\n"
     "end    exit status 0\n",
     R"({"bytes": 4, "frames": {"1": 0, "2": 0, "3": 0, "4": 0, "5": 1}, "stops": 0, )"
     R"("frames_cut_off": 0, "lone_power_bytes": 0, "stray_bytes": 2, "baud": null, "exit_status": 0})"},
    {"StrayBytes",
     {0xff, 0x32, 0x86, 0x64, 0x85},
     "stray ff\nlone-power 32\nstray 86\nframe 64 85\n",
     "ff     stray byte, fits no frame\n32     power 50 whose direction byte never came\n"
     "86     stray byte, fits no frame\n64 85  frame, code 5 aligned, power 100\n"
     "end    exit status 0\n",
     R"({"bytes": 5, "frames": {"1": 0, "2": 0, "3": 0, "4": 0, "5": 1}, "stops": 0, )"
     R"("frames_cut_off": 0, "lone_power_bytes": 1, "stray_bytes": 2, "baud": null, "exit_status": 0})"},
    // A repeat is told once, with how often it came once something else comes; stops never fold.
    {"RunsOfRepeats",
     {0x32, 0x81, 0x32, 0x81, 0x32, 0x81, 0x64, 0x81, 0x64, 0x82,
      0x64, 0x82, 0x00, 0x80, 0x00, 0x80, 0x80, 0x01, 0x01, 0x01},
     "frame 32 81\nframe 32 81\nframe 32 81\nframe 64 81\nframe 64 82\nframe 64 82\nstop 00 80\n"
     "stop 00 80\nstop 80\nlone-power 01\nlone-power 01\nlone-power 01\n",
     "32 81  frame, code 1 object right, power 50\n"
     "64 81  frame, code 1 object right, power 100  (before: 32 81 x 3)\n"
     "64 82  frame, code 2 object left, power 100\n"
     "00 80  stop  (before: 64 82 x 2)\n"
     "00 80  stop\n"
     "80     stop, without its 00\n"
     "01     power 1 whose direction byte never came\n"
     "end    exit status 0  (before: 01 x 3)\n",
     R"({"bytes": 20, "frames": {"1": 4, "2": 2, "3": 0, "4": 0, "5": 0}, "stops": 3, )"
     R"("frames_cut_off": 0, "lone_power_bytes": 3, "stray_bytes": 0, "baud": null, "exit_status": 0})"},
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class ReportOfLine : public testing::TestWithParam<Case> {};

TEST_P(ReportOfLine, TellsWhatTheBytesAmountTo) {
  const Case& c = GetParam();
  EXPECT_EQ(decode(c.bytes, c.bytes.size()), c.events);
  const Told told = report(c.bytes);
  EXPECT_EQ(told.lines, c.told);
  EXPECT_EQ(counts(told.json), std::string(c.json) + "\n");
}

INSTANTIATE_TEST_SUITE_P(Lines, ReportOfLine, testing::ValuesIn(cases),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

// Bytes arrive in pieces of any size: every case after every other, split at every point.
termios lineOf(speed_t speed, tcflag_t cflag, bool cooked) {
  termios t{};
  t.c_cflag = cflag;
  t.c_lflag = cooked ? ICANON | ECHO : 0;
  cfsetospeed(&t, speed);
  cfsetispeed(&t, speed);
  return t;
}

TEST(BoardReport, TellsChangedSettingsWithinARunAndSumsUp) {
  Written out;
  board::Report report(out.file(), board::settingsOf(lineOf(B0, CS8, true)), false);
  const auto feed = [&](const Bytes& bytes) {
    for (const std::uint8_t byte : bytes) report.arrived(byte, 1.5);
  };
  feed({0x32, 0x81});
  report.settings(board::settingsOf(lineOf(B9600, CS8, false)), 1.5);
  feed({0x32, 0x81});
  report.settings(board::settingsOf(lineOf(B9600, CS8, false)), 1.5);  // no change: not told
  feed({0x32, 0x81, 0x64, 0x85, 0x32, 0x00, 0x80, 0x81, 0xff});
  report.quiet(1.5);
  report.end(1.5, 3, 0);
  const std::string text = out.text();
  const size_t summary = text.find("summary\n");
  EXPECT_EQ(untimed(text.substr(0, summary)),
            "32 81  frame, code 1 object right, power 50\n"
            "line   9600 baud, 8 data bits, no parity, 1 stop bit, raw\n"
            "64 85  frame, code 5 aligned, power 100  (before: 32 81 x 3)\n"
            "32     power 50, its frame cut off by the stop\n"
            "00 80  stop\n"
            "81     direction byte, code 1 object right, with no power byte before it\n"
            "ff     stray byte, fits no frame\n"
            "end    exit status 3\n");
  EXPECT_EQ(text.substr(summary),
            "summary\n"
            "  duration     1.500 s\n"
            "  bytes        13\n"
            "  frames       code 1: 3, code 5: 1, 4 in all, 3 a second\n"
            "  stops        1\n"
            "  cut off      1 frame (power byte, then a stop)\n"
            "  anomalies    0 lone power bytes, 2 stray bytes\n"
            "  line         9600 baud, 8 data bits, no parity, 1 stop bit, raw\n"
            "  paced        no (--pace holds the program to the line's rate)\n"
            "  exit status  3\n");
  EXPECT_EQ(
      counts(board::summaryJson(report.tally(), 3)),
      R"({"bytes": 13, "frames": {"1": 3, "2": 0, "3": 0, "4": 0, "5": 1}, "stops": 1, )"
      R"("frames_cut_off": 1, "lone_power_bytes": 0, "stray_bytes": 2, "baud": 9600, "exit_status": 3})"
      "\n");
}

TEST(BoardReport, SumsUpALineThatCarriedNothing) {
  Written out;
  board::Report report(out.file(), board::settingsOf(lineOf(B0, CS8, true)), false);
  report.end(0, 127, 0);
  EXPECT_EQ(out.text(),
            "    0.000s  end    exit status 127\n"
            "summary\n"
            "  duration     0.000 s\n"
            "  bytes        0\n"
            "  frames       0 in all, 0 a second\n"
            "  stops        0\n"
            "  cut off      0 frames (power byte, then a stop)\n"
            "  anomalies    0 lone power bytes, 0 stray bytes\n"
            "  line         no rate set, 8 data bits, no parity, 1 stop bit, cooked\n"
            "  paced        no (--pace holds the program to the line's rate)\n"
            "  exit status  127\n");
}

struct Settings {
  const char* name;
  speed_t speed;
  tcflag_t cflag;
  bool cooked;
  int bits;  // a byte's on the wire: start, data, parity and stop bits
  const char* told;
};

void PrintTo(const Settings& s, std::ostream* out) { *out << s.name; }

class LineSettingsTest : public testing::TestWithParam<Settings> {};

TEST_P(LineSettingsTest, AreToldAsTheBoardWouldTakeThem) {
  const Settings& s = GetParam();
  const board::LineSettings line = board::settingsOf(lineOf(s.speed, s.cflag, s.cooked));
  EXPECT_EQ(board::describe(line), s.told);
  const unsigned baud = line.baud == 0 ? board::unsetRateBaud : line.baud;
  EXPECT_DOUBLE_EQ(board::byteTime(line), s.bits / static_cast<double>(baud));
}

INSTANTIATE_TEST_SUITE_P(
    Lines, LineSettingsTest,
    testing::Values(Settings{"Arduino", B9600, CS8, false, 10,
                             "9600 baud, 8 data bits, no parity, 1 stop bit, raw"},
                    Settings{"NoRateEvenParity", B0, CS7 | PARENB | CSTOPB, true, 11,
                             "no rate set, 7 data bits, even parity, 2 stop bits, cooked"},
                    Settings{"OddParity", B115200, CS5 | PARENB | PARODD, false, 8,
                             "115200 baud, 5 data bits, odd parity, 1 stop bit, raw"},
                    Settings{"OddWithoutParity", B19200, CS6 | PARODD, false, 8,
                             "19200 baud, 6 data bits, no parity, 1 stop bit, raw"},
                    Settings{"Slowest", B50, CS8 | CSTOPB, false, 11,
                             "50 baud, 8 data bits, no parity, 2 stop bits, raw"},
                    Settings{"Fastest", B4000000, CS8, false, 10,
                             "4000000 baud, 8 data bits, no parity, 1 stop bit, raw"}),
    [](const testing::TestParamInfo<Settings>& info) { return info.param.name; });

}  // namespace
