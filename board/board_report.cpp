#include "board_report.h"

namespace board {
namespace {

const char* meaning(int code) {
  static const char* const names[] = {"stop",      "object right", "object left",
                                      "goal left", "goal right",   "aligned"};
  return code >= 0 && code <= FrameDecoder::lastCode ? names[code] : "no code";
}

std::string hex(const Event& e) {
  char text[8];
  if (e.size == 2) {
    (void)std::snprintf(text, sizeof text, "%02x %02x", e.bytes[0], e.bytes[1]);
  } else {
    (void)std::snprintf(text, sizeof text, "%02x", e.bytes[0]);
  }
  return text;
}

std::string what(const Event& e) {
  const std::string code = "code " + std::to_string(e.code()) + " " + meaning(e.code());
  switch (e.kind) {
    case EventKind::frame:
      return "frame, " + code + ", power " + std::to_string(e.power());
    case EventKind::stop:
      return e.size == 2 ? "stop" : "stop, without its 00";
    case EventKind::lonePower:
      return "power " + std::to_string(e.power()) + " whose direction byte never came";
    case EventKind::loneDirection:
      return "direction byte, " + code + ", with no power byte before it";
    case EventKind::stray:
      break;
  }
  return "stray byte, fits no frame";
}

}  // namespace

std::uint64_t Tally::allFrames() const {
  std::uint64_t n = 0;
  for (std::uint64_t f : frames) n += f;
  return n;
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

void Report::event(const Event& e, double at) {
  switch (e.kind) {
    case EventKind::frame:
      ++tally_.frames[e.code()];
      break;
    case EventKind::stop:
      ++tally_.stops;
      break;
    case EventKind::lonePower:
      ++tally_.lonePowerBytes;
      break;
    case EventKind::loneDirection:
    case EventKind::stray:
      ++tally_.strayBytes;
      break;
  }
  if (run_ > 0 && e.sameAs(last_) && e.kind != EventKind::stop) {
    ++run_;
    return;
  }
  tell(at, hex(e), what(e));
  last_ = e;
  run_ = 1;
}

void Report::end(double at, int exitStatus) {
  tell(at, "end", "exit status " + std::to_string(exitStatus));
  const Tally& t = tally_;
  std::string frames;
  for (int code = 1; code <= FrameDecoder::lastCode; ++code) {
    if (t.frames[code] == 0) continue;
    frames += "code " + std::to_string(code) + ": " + std::to_string(t.frames[code]) + ", ";
  }
  const double perSecond = at > 0 ? static_cast<double>(t.allFrames()) / at : 0;
  (void)std::fprintf(
      out_,
      "summary\n"
      "  duration     %.3f s\n"
      "  bytes        %llu\n"
      "  frames       %s%llu in all, %.0f a second\n"
      "  stops        %llu\n"
      "  anomalies    %llu lone power bytes, %llu stray bytes\n"
      "  line         %s\n"
      "  exit status  %d\n",
      at, static_cast<unsigned long long>(t.bytes), frames.c_str(),
      static_cast<unsigned long long>(t.allFrames()), perSecond,
      static_cast<unsigned long long>(t.stops), static_cast<unsigned long long>(t.lonePowerBytes),
      static_cast<unsigned long long>(t.strayBytes), describe(t.line).c_str(), exitStatus);
}

std::string summaryJson(const Tally& t, int exitStatus) {
  std::string json = "{\"bytes\": " + std::to_string(t.bytes) + ", \"frames\": {";
  for (int code = 1; code <= FrameDecoder::lastCode; ++code) {
    json +=
        (code > 1 ? ", \"" : "\"") + std::to_string(code) + "\": " + std::to_string(t.frames[code]);
  }
  json += "}, \"stops\": " + std::to_string(t.stops) +
          ", \"lone_power_bytes\": " + std::to_string(t.lonePowerBytes) +
          ", \"stray_bytes\": " + std::to_string(t.strayBytes) +
          ", \"baud\": " + (t.line.baud == 0 ? std::string("null") : std::to_string(t.line.baud)) +
          ", \"exit_status\": " + std::to_string(exitStatus) + "}\n";
  return json;
}

}  // namespace board
