#include "board/board_report.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <nlohmann/json.hpp>
#include <numeric>

#include "board/line_pace.h"

namespace board {
namespace {

const char* meaning(int code) {
  static const char* const names[] = {"stop",      "object right", "object left",
                                      "goal left", "goal right",   "aligned"};
  return code >= 0 && code <= FrameDecoder::lastCode ? names[code] : "no code";
}

std::string hex(const Event& e) {
  char text[8];
  // A one-byte event's second byte was never on the line: it is not read.
  if (e.size == 2) {
    (void)std::snprintf(text, sizeof text, "%02x %02x", e.bytes[0], e.bytes[1]);
  } else {
    (void)std::snprintf(text, sizeof text, "%02x", e.bytes[0]);
  }
  return text;
}

std::string what(const Event& e, bool cutOff) {
  const std::string code = "code " + std::to_string(e.code()) + " " + meaning(e.code());
  switch (e.kind) {
    case EventKind::frame:
      return "frame, " + code + ", power " + std::to_string(e.power());
    case EventKind::stop:
      return e.size == 2 ? "stop" : "stop, without its 00";
    case EventKind::lonePower:
      return "power " + std::to_string(e.power()) +
             (cutOff ? ", its frame cut off by the stop" : " whose direction byte never came");
    case EventKind::loneDirection:
      return "direction byte, " + code + ", with no power byte before it";
    case EventKind::stray:
      break;
  }
  return "stray byte, fits no frame";
}

// "1 stray byte", "2 stray bytes"
std::string count(std::uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string number(double value, const char* format) {
  char text[32];
  (void)std::snprintf(text, sizeof text, format, value);
  return text;
}

// Bytes a second from the first byte's arrival to the last's, 0 while that says nothing.
double byteRate(const Tally& t) {
  const double span = t.lastByteAt - t.firstByteAt;
  return t.bytes >= 2 && span > 0 ? static_cast<double>(t.bytes - 1) / span : 0;
}

std::string pacing(const Tally& t) {
  if (!t.paced) return "no (--pace holds the program to the line's rate)";
  return number(byteTime(t.line) * 1000, "%.3f") + " ms a byte at " +
         std::to_string(t.line.baud == 0 ? unsetRateBaud : t.line.baud) + " baud" +
         (t.line.baud == 0 ? " (no rate set)" : "") + "; at most " +
         count(t.mostWaiting, "byte", "bytes") + " waited for the wire";
}

// A JSON value on one line with a space after each colon and comma, as people and grep read it
// best; nlohmann/json writes each key and value (dump() puts in no spaces, or whole lines).
std::string oneLine(const nlohmann::ordered_json& value) {
  if (!value.is_object()) {
    return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  }
  std::string text = "{";
  for (const auto& [key, item] : value.items()) {
    if (text.size() > 1) text += ", ";
    text += oneLine(key) + ": " + oneLine(item);
  }
  return text + "}";
}

}  // namespace

std::uint64_t Tally::allFrames() const {
  return std::accumulate(std::begin(frames), std::end(frames), std::uint64_t{0});
}

Report::Report(std::FILE* out, const LineSettings& line, bool paced) : out_(out) {
  tally_.line = line;
  tally_.paced = paced;
}

void Report::tell(double at, const std::string& bytes, const std::string& text) {
  std::string line(32 + text.size(), '\0');
  const int n = std::snprintf(line.data(), line.size(), "%9.3fs  %-5s  ", at, bytes.c_str());
  line.resize(n > 0 ? static_cast<size_t>(n) : 0);
  line += text;
  if (run_ > 1) line += "  (before: " + hex(last_) + " x " + std::to_string(run_) + ")";
  line += '\n';
  (void)std::fputs(line.c_str(), out_);
}

void Report::settings(const LineSettings& s, double at) {
  if (s == tally_.line) return;
  tally_.line = s;
  const std::uint64_t run = run_;
  run_ = 0;  // the run goes on; it is told when it ends
  tell(at, "line", describe(s));
  run_ = run;
}

void Report::arrived(std::uint8_t byte, double at) {
  if (tally_.bytes++ == 0) tally_.firstByteAt = at;
  tally_.lastByteAt = at;
  decoder_.feed(byte, [&](const Event& e) { event(e, at); });
}

void Report::quiet(double at) {
  decoder_.finish([&](const Event& e) { event(e, at); });
  if (holding_) tellEvent(held_, heldAt_, false);
  holding_ = false;
}

void Report::event(const Event& e, double at) {
  if (holding_) tellEvent(held_, heldAt_, e.kind == EventKind::stop);
  holding_ = e.kind == EventKind::lonePower;
  if (!holding_) {
    tellEvent(e, at, false);
    return;
  }
  held_ = e;
  heldAt_ = at;
}

void Report::tellEvent(const Event& e, double at, bool cutOff) {
  switch (e.kind) {
    case EventKind::frame:
      ++tally_.frames[e.code()];
      break;
    case EventKind::stop:
      ++tally_.stops;
      break;
    case EventKind::lonePower:
      ++(cutOff ? tally_.cutOff : tally_.lonePowerBytes);
      break;
    case EventKind::loneDirection:
    case EventKind::stray:
      ++tally_.strayBytes;
      break;
  }
  // Stops and the frames they cut off are each told, so that every stop can be seen.
  if (run_ > 0 && e.sameAs(last_) && e.kind != EventKind::stop && !cutOff) {
    ++run_;
    return;
  }
  tell(at, hex(e), what(e, cutOff));
  last_ = e;
  run_ = cutOff ? 0 : 1;
}

void Report::simulated(const std::string& motors, const std::string& how) {
  tally_.motors = motors;
  tally_.simulation = how;
}

void Report::end(double at, int exitStatus, std::uint64_t mostWaiting, double lastEventAt) {
  tally_.duration = at;
  tally_.mostWaiting = mostWaiting;
  tell(std::max(at, lastEventAt), "end", "exit status " + std::to_string(exitStatus));
  const Tally& t = tally_;
  std::string frames;
  for (int code = 1; code <= FrameDecoder::lastCode; ++code) {
    if (t.frames[code] == 0) continue;
    frames += "code " + std::to_string(code) + ": " + std::to_string(t.frames[code]) + ", ";
  }
  const double perSecond = at > 0 ? static_cast<double>(t.allFrames()) / at : 0;
  const double bytesPerSecond = byteRate(t);
  const std::string bytes =
      std::to_string(t.bytes) +
      (bytesPerSecond > 0 ? ", " + number(bytesPerSecond, "%.0f") + " a second from first to last"
                          : "");
  (void)std::fprintf(
      out_,
      "summary\n"
      "  duration     %.3f s\n"
      "  bytes        %s\n"
      "  frames       %s%llu in all, %.0f a second\n"
      "  stops        %llu\n"
      "  cut off      %s (power byte, then a stop)\n"
      "  anomalies    %s, %s\n"
      "  line         %s\n"
      "  paced        %s\n"
      "  exit status  %d\n",
      at, bytes.c_str(), frames.c_str(), static_cast<unsigned long long>(t.allFrames()), perSecond,
      static_cast<unsigned long long>(t.stops), count(t.cutOff, "frame", "frames").c_str(),
      count(t.lonePowerBytes, "lone power byte", "lone power bytes").c_str(),
      count(t.strayBytes, "stray byte", "stray bytes").c_str(), describe(t.line).c_str(),
      pacing(t).c_str(), exitStatus);
  if (!t.motors.empty()) {
    (void)std::fprintf(out_, "  motors       %s\n", t.simulation.c_str());
  }
}

std::string summaryJson(const Tally& t, int exitStatus) {
  // Times to the microsecond and the frame rate to a tenth, as far as they mean anything.
  const auto rounded = [](double value, double steps) { return std::round(value * steps) / steps; };
  const auto orNull = [](bool known, const nlohmann::ordered_json& value) {
    return known ? value : nlohmann::ordered_json(nullptr);
  };
  nlohmann::ordered_json frames;
  for (int code = 1; code <= FrameDecoder::lastCode; ++code) {
    frames[std::to_string(code)] = t.frames[code];
  }
  const double perSecond = t.duration > 0 ? static_cast<double>(t.allFrames()) / t.duration : 0;
  const nlohmann::ordered_json json = {
      {"bytes", t.bytes},
      {"frames", frames},
      {"stops", t.stops},
      {"frames_cut_off", t.cutOff},
      {"lone_power_bytes", t.lonePowerBytes},
      {"stray_bytes", t.strayBytes},
      {"baud", orNull(t.line.baud != 0, t.line.baud)},
      {"duration", rounded(t.duration, 1e6)},
      {"frames_per_second", rounded(perSecond, 10)},
      {"first_byte_at", orNull(t.bytes > 0, rounded(t.firstByteAt, 1e6))},
      {"last_byte_at", orNull(t.bytes > 0, rounded(t.lastByteAt, 1e6))},
      {"paced", t.paced},
      {"most_bytes_waiting", orNull(t.paced, t.mostWaiting)},
      {"motors", orNull(!t.motors.empty(), t.motors)},
      {"exit_status", exitStatus}};
  return oneLine(json) + "\n";
}

}  // namespace board
