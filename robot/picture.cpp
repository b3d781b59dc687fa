#include "robot/picture.h"

#include <cairo-pdf.h>
#include <cairo-svg.h>
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <numbers>
#include <string>
#include <vector>

#include "robot/drawing.h"

namespace robot {
namespace {

using namespace drawing;

constexpr int width = 1000;
constexpr int height = 1170;
constexpr double centreColumn = 320;
constexpr double columns = 640;
// The firmware turns the motors off when no whole frame came for this long.
constexpr double frameHoldS = 0.1;

constexpr Colour bandColour{0.75, 0.9, 0.75};
// Stop, then codes 1 to 5: right turns reddish, left turns bluish, straight ahead green.
constexpr Colour codeColours[6] = {{0.2, 0.2, 0.2},   {0.84, 0.15, 0.16}, {0.12, 0.47, 0.71},
                                   {0.55, 0.76, 0.9}, {1.0, 0.6, 0.59},   {0.17, 0.63, 0.17}};
constexpr const char* codeNames[6] = {"stop",       "1 spin right", "2 spin left",
                                      "3 arc left", "4 arc right",  "5 straight"};

// Where a rectangle of the picture lies, in pixels.
struct Box {
  double left, top, w, h;
  [[nodiscard]] double right() const { return left + w; }
  [[nodiscard]] double bottom() const { return top + h; }
};

void rectangle(cairo_t* cr, const Box& box) {
  cairo_rectangle(cr, box.left, box.top, box.w, box.h);
}

// The box's frame, in ink.
void outline(cairo_t* cr, const Box& box) {
  setColour(cr, ink);
  cairo_set_line_width(cr, 1);
  rectangle(cr, box);
  cairo_stroke(cr);
}

// 0, step, 2 step, ... up to `end` (and a hair beyond, for rounding).
std::vector<double> multiples(double step, double end) {
  std::vector<double> all;
  for (int k = 0; k * step <= end * 1.0001; ++k) all.push_back(k * step);
  return all;
}
constexpr Box fieldBox{20, 82, 960, 436};
constexpr Box columnBox{60, 554, 920, 190};
constexpr Box distanceBox{60, 774, 920, 100};
constexpr Box headingBox{60, 904, 920, 150};
constexpr Box codeBox{60, 1064, 920, 22};

// The field's metres onto pixels, one scale for both axes, +x to the right and +y up.
struct FieldView {
  double scale = 1, cx = 0, cy = 0;
  [[nodiscard]] double px(double x) const {
    return fieldBox.left + fieldBox.w / 2 + (x - cx) * scale;
  }
  [[nodiscard]] double py(double y) const {
    return fieldBox.top + fieldBox.h / 2 - (y - cy) * scale;
  }
};

// The picture's time, from steer's start to the run's end: the goal, if the ball went in, else
// the Ctrl-C. Marks every `step` seconds on the robot's path and on the time axis.
struct Timeline {
  double end = 1;
  double step = 1;
  [[nodiscard]] double px(double t) const { return columnBox.left + t / end * columnBox.w; }
};

Timeline timelineOf(const Run& run) {
  double end = run.scenario.run.durationS;
  if (run.measures.scored && run.measures.scoredS > 0) end = run.measures.scoredS;
  if (!(end > 0)) end = 1;
  return {end, niceStep(end / 12)};
}

// The run as far as the picture shows it.
Run upTo(const Run& run, double end) {
  Run shown = run;
  std::erase_if(shown.samples, [end](const Sample& s) { return s.t > end; });
  std::erase_if(shown.events, [end](const LineEvent& e) { return e.t > end; });
  return shown;
}

// The first sample at or after t, or the last one (`samples` is not empty).
const Sample& sampleAt(const std::vector<Sample>& samples, double t) {
  const auto at = std::lower_bound(samples.begin(), samples.end(), t,
                                   [](const Sample& s, double time) { return s.t < time; });
  return at == samples.end() ? samples.back() : *at;
}

// Degrees to the right of the start heading, from -180 to 180.
double degreesRight(double radiansLeft) {
  return -std::remainder(radiansLeft, 2 * std::numbers::pi) * 180 / std::numbers::pi;
}

FieldView fitField(const Run& run) {
  const FieldSettings& f = run.scenario.field;
  double x0 = std::min(0.0, f.goalDistanceM);
  double x1 = std::max(0.0, f.goalDistanceM);
  double y0 = f.goalCentreM - f.goalWidthM / 2;
  double y1 = f.goalCentreM + f.goalWidthM / 2;
  for (const Sample& s : run.samples) {
    x0 = std::min({x0, s.x, s.ballX}), x1 = std::max({x1, s.x, s.ballX});
    y0 = std::min({y0, s.y, s.ballY}), y1 = std::max({y1, s.y, s.ballY});
  }
  const double margin = run.scenario.robot.radiusM + 0.08 * std::max({x1 - x0, y1 - y0, 0.5});
  FieldView view;
  view.scale = std::min(fieldBox.w / (x1 - x0 + 2 * margin), fieldBox.h / (y1 - y0 + 2 * margin));
  view.cx = (x0 + x1) / 2;
  view.cy = (y0 + y1) / 2;
  return view;
}

// A path through many samples, leaving out points less than a pixel from the last one drawn.
template <typename Point>
void drawPath(cairo_t* cr, const FieldView& view, const std::vector<Sample>& samples, Point point) {
  double lastX = NAN;
  double lastY = NAN;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const auto [x, y] = point(samples[i]);
    const double px = view.px(x);
    const double py = view.py(y);
    if (i == 0) {
      cairo_move_to(cr, px, py);
    } else if (std::hypot(px - lastX, py - lastY) >= 1 || i + 1 == samples.size()) {
      cairo_line_to(cr, px, py);
    } else {
      continue;
    }
    lastX = px, lastY = py;
  }
  cairo_stroke(cr);
}

void drawRobot(cairo_t* cr, const FieldView& view, const Sample& s, double radiusM, bool filled) {
  const double r = std::max(radiusM * view.scale, 4.0);
  const double px = view.px(s.x);
  const double py = view.py(s.y);
  cairo_new_sub_path(cr);
  circle(cr, px, py, r);
  setColour(cr, robotColour, filled ? 0.35 : 0.08);
  cairo_fill_preserve(cr);
  setColour(cr, robotColour);
  cairo_set_line_width(cr, 2);
  cairo_stroke(cr);
  line(cr, px, py, px + r * std::cos(s.heading), py - r * std::sin(s.heading));
  cairo_stroke(cr);
}

void drawBall(cairo_t* cr, const FieldView& view, double x, double y, double radiusM, bool filled) {
  cairo_new_sub_path(cr);
  circle(cr, view.px(x), view.py(y), std::max(radiusM * view.scale, 3.5));
  setColour(cr, ballColour, filled ? 1 : 0.15);
  cairo_fill_preserve(cr);
  setColour(cr, ballColour);
  cairo_set_line_width(cr, 1.5);
  cairo_stroke(cr);
}

void drawGridAndScale(cairo_t* cr, const FieldView& view) {
  const double step = niceStep(fieldBox.w / view.scale / 8);
  setColour(cr, faint);
  cairo_set_line_width(cr, 1);
  const double xFrom = view.cx - fieldBox.w / view.scale;
  const double yFrom = view.cy - fieldBox.h / view.scale;
  for (auto k = static_cast<int>(std::ceil(xFrom / step)); view.px(k * step) < fieldBox.right();
       ++k)
    line(cr, view.px(k * step), fieldBox.top, view.px(k * step), fieldBox.bottom());
  for (auto k = static_cast<int>(std::ceil(yFrom / step)); view.py(k * step) > fieldBox.top; ++k)
    line(cr, fieldBox.left, view.py(k * step), fieldBox.right(), view.py(k * step));
  cairo_stroke(cr);
  const double x = fieldBox.left + 14;
  const double y = fieldBox.bottom() - 14;
  setColour(cr, ink);
  cairo_set_line_width(cr, 3);
  line(cr, x, y, x + step * view.scale, y);
  cairo_stroke(cr);
  text(cr, x + step * view.scale / 2, y - 7, format("%g m", step), 12, 0.5);
}

// A dot on the robot's path at each time mark, labelled where it does not crowd an earlier label.
void drawTimeMarks(cairo_t* cr, const FieldView& view, const Run& run, const Timeline& time) {
  std::vector<std::pair<double, double>> labelled;
  setColour(cr, robotColour);
  for (int k = 1; k * time.step < time.end - 1e-9; ++k) {
    const Sample& s = sampleAt(run.samples, k * time.step);
    const double x = view.px(s.x);
    const double y = view.py(s.y);
    circle(cr, x, y, 3.5);
    cairo_fill(cr);
    const bool crowded = std::any_of(labelled.begin(), labelled.end(), [&](const auto& p) {
      return std::hypot(p.first - x, p.second - y) < 30;
    });
    if (crowded) continue;
    text(cr, x + 6, y - 6, format("%g s", k * time.step), 11);
    labelled.emplace_back(x, y);
  }
}

// A ring round a place on the field, with what happened there and when.
void markEvent(cairo_t* cr, const FieldView& view, double x, double y, Colour colour,
               const std::string& what) {
  setColour(cr, colour);
  cairo_set_line_width(cr, 2.5);
  cairo_new_sub_path(cr);
  circle(cr, view.px(x), view.py(y), 11);
  cairo_stroke(cr);
  // On a white ground, as it may lie across the paths and their time marks.
  const bool nearRight = view.px(x) > fieldBox.right() - 160;
  const double tx = view.px(x) + (nearRight ? -14 : 14);
  const double ty = view.py(y) + 26;
  cairo_text_extents_t extents;
  cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
  cairo_set_font_size(cr, 12);
  cairo_text_extents(cr, what.c_str(), &extents);
  cairo_set_source_rgba(cr, 1, 1, 1, 0.85);
  cairo_rectangle(cr, tx - (nearRight ? extents.x_advance : 0) - 3, ty - 13, extents.x_advance + 6,
                  17);
  cairo_fill(cr);
  setColour(cr, colour);
  text(cr, tx, ty, what, 12, nearRight ? 1 : 0, true);
}

void drawField(cairo_t* cr, const Run& run, const Timeline& time) {
  const FieldView view = fitField(run);
  cairo_save(cr);
  rectangle(cr, fieldBox);
  cairo_clip(cr);
  drawGridAndScale(cr, view);

  const FieldSettings& f = run.scenario.field;
  const double leftPost = f.goalCentreM + f.goalWidthM / 2;
  const double rightPost = f.goalCentreM - f.goalWidthM / 2;
  setColour(cr, goalColour);
  cairo_set_line_width(cr, 3);
  line(cr, view.px(f.goalDistanceM), view.py(leftPost), view.px(f.goalDistanceM),
       view.py(rightPost));
  cairo_stroke(cr);
  for (const double y : {leftPost, rightPost}) {
    circle(cr, view.px(f.goalDistanceM), view.py(y), 5);
    cairo_fill(cr);
  }
  text(cr, view.px(f.goalDistanceM) + 8, view.py(f.goalCentreM) + 4, "goal", 12);

  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  if (!run.samples.empty()) {
    const Sample& first = run.samples.front();
    const Sample& last = run.samples.back();
    setColour(cr, ballColour);
    cairo_set_line_width(cr, 2);
    drawPath(cr, view, run.samples, [](const Sample& s) { return std::pair{s.ballX, s.ballY}; });
    setColour(cr, robotColour);
    drawPath(cr, view, run.samples, [](const Sample& s) { return std::pair{s.x, s.y}; });
    drawRobot(cr, view, first, run.scenario.robot.radiusM, false);
    drawRobot(cr, view, last, run.scenario.robot.radiusM, true);
    drawBall(cr, view, first.ballX, first.ballY, f.ballRadiusM, false);
    drawBall(cr, view, last.ballX, last.ballY, f.ballRadiusM, true);
    drawTimeMarks(cr, view, run, time);
    const Measures& m = run.measures;
    if (m.firstAlignedS >= 0 && m.firstAlignedS <= time.end) {
      const Sample& s = sampleAt(run.samples, m.firstAlignedS);
      markEvent(cr, view, s.x, s.y, codeColours[5],
                format("first code 5, %.2f s", m.firstAlignedS));
    }
    if (m.scored) {
      const Sample& s = sampleAt(run.samples, m.scoredS);
      markEvent(cr, view, s.ballX, s.ballY, goalColour, format("scored, %.2f s", m.scoredS));
    }
  }
  cairo_restore(cr);

  outline(cr, fieldBox);
  text(cr, fieldBox.right() - 8, fieldBox.top + 18,
       "from above: x ahead of the start to the right, y to its left up", 12, 1);
  text(cr, fieldBox.right() - 8, fieldBox.top + 36,
       "robot (blue) and ball (orange): hollow at the start, filled at the end; goal (purple)", 12,
       1);
  text(cr, fieldBox.right() - 8, fieldBox.top + 54,
       format("dots on the robot's path every %g s, as on the time axis", time.step), 12, 1);
}

using Value = double (*)(const Sample&);
using Level = std::function<double(double)>;

// A value of the samples over time in `box`, its height from `py`, as each pixel column's first,
// lowest, highest and last value (so 60,000 samples make ~900 columns of four points); NaN
// leaves a gap, and so does a step of more than `jump` (an angle wrapping round).
void drawSeries(cairo_t* cr, const std::vector<Sample>& samples, const Timeline& time,
                const Value& value, const Level& py, double jump = INFINITY) {
  struct PixelColumn {
    int x = 0;
    double first = 0;
    double lo = 0;
    double hi = 0;
    double last = 0;
  } column;
  bool penUp = true;
  bool any = false;
  const auto flush = [&] {
    if (!any) return;
    const double x = column.x + 0.5;
    if (penUp) cairo_move_to(cr, x, py(column.first));
    for (const double v : {column.first, column.lo, column.hi, column.last})
      cairo_line_to(cr, x, py(v));
    penUp = false;
    any = false;
  };
  double previous = NAN;
  for (const Sample& s : samples) {
    const double v = value(s);
    const bool wraps = std::abs(v - previous) > jump;
    previous = v;
    if (std::isnan(v) || wraps) {
      flush();
      penUp = true;
      if (std::isnan(v)) continue;
    }
    const int x = static_cast<int>(time.px(s.t));
    if (any && x != column.x) flush();
    if (!any) column = {x, v, v, v, v};
    column.lo = std::min(column.lo, v);
    column.hi = std::max(column.hi, v);
    column.last = v;
    any = true;
  }
  flush();
  cairo_stroke(cr);
}

// A value of the samples that a panel draws, in its colour.
struct Series {
  Colour colour;
  Value value;
};

// A panel over time: faint lines at the time marks and at `levels` (labelled on the left), its
// frame and its title; then the run's `series` in turn (with drawSeries's `jump`), clipped to it.
void drawPanel(cairo_t* cr, const Box& box, const Timeline& time, const std::vector<double>& levels,
               const Level& py, const std::string& title, const Run& run,
               std::initializer_list<Series> series, double jump = INFINITY) {
  setColour(cr, faint);
  cairo_set_line_width(cr, 1);
  for (const double t : multiples(time.step, time.end))
    line(cr, time.px(t), box.top, time.px(t), box.bottom());
  for (const double level : levels) line(cr, box.left, py(level), box.right(), py(level));
  cairo_stroke(cr);
  setColour(cr, ink);
  for (const double level : levels)
    text(cr, box.left - 6, py(level) + 4, format("%g", level), 12, 1);
  cairo_save(cr);
  rectangle(cr, box);
  cairo_clip(cr);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_set_line_width(cr, 1.5);
  for (const Series& s : series) {
    setColour(cr, s.colour);
    drawSeries(cr, run.samples, time, s.value, py, jump);
  }
  cairo_restore(cr);
  outline(cr, box);
  text(cr, box.left, box.top - 8, title, 12);
}

void drawColumns(cairo_t* cr, const Run& run, const Timeline& time) {
  const Level py = [](double v) { return columnBox.bottom() - v / columns * columnBox.h; };
  setColour(cr, bandColour);
  cairo_rectangle(cr, columnBox.left, py(centreColumn + run.band), columnBox.w,
                  std::max(py(centreColumn - run.band) - py(centreColumn + run.band), 1.0));
  cairo_fill(cr);
  drawPanel(cr, columnBox, time, {0, 160, 320, 480, 640}, py,
            "columns written: the ball's u (orange) and steer's goal column (purple); steer's "
            "band " +
                std::to_string(320 - run.band) + " to " + std::to_string(320 + run.band) +
                " (green); 0 is the picture's left edge",
            run,
            {{goalColour, [](const Sample& s) { return s.goalColumn; }},
             {ballColour, [](const Sample& s) { return s.u; }}});
  // The band's edges again over the lines, which may cover all of it.
  setColour(cr, bandColour, 0.9);
  cairo_set_line_width(cr, 1);
  for (const int edge : {-run.band, run.band})
    line(cr, columnBox.left, py(centreColumn + edge), columnBox.right(), py(centreColumn + edge));
  cairo_stroke(cr);
}

double ballDistance(const Sample& s) { return std::hypot(s.ballX - s.x, s.ballY - s.y); }

void drawDistance(cairo_t* cr, const Run& run, const Timeline& time) {
  double most = 0.1;
  for (const Sample& s : run.samples) most = std::max(most, ballDistance(s));
  const double step = niceStep(most / 3);
  const double top = std::ceil(most / step) * step;
  const Level py = [top](double v) { return distanceBox.bottom() - v / top * distanceBox.h; };
  drawPanel(cr, distanceBox, time, multiples(step, top), py,
            "distance from the robot's centre to the ball's (m)", run,
            {{ballColour, ballDistance}});
}

double ballDirection(const Sample& s) {
  return degreesRight(std::atan2(s.ballY - s.y, s.ballX - s.x));
}

double heading(const Sample& s) { return degreesRight(s.heading); }

void drawHeading(cairo_t* cr, const Run& run, const Timeline& time) {
  // From the start heading to every direction drawn, in whole steps, so that a hunt fills it.
  double lo = 0;
  double hi = 0;
  for (const Sample& s : run.samples) {
    lo = std::min({lo, heading(s), ballDirection(s)});
    hi = std::max({hi, heading(s), ballDirection(s)});
  }
  const double step = hi - lo > 180 ? 90 : hi - lo > 60 ? 45 : 15;
  lo = std::max(-180.0, std::floor((lo - 2) / step) * step);
  hi = std::min(180.0, std::ceil((hi + 2) / step) * step);
  const Level py = [lo, hi](double v) {
    return headingBox.top + (hi - v) / (hi - lo) * headingBox.h;
  };
  std::vector<double> levels;
  for (int k = 0; lo + k * step <= hi + 1e-9; ++k) levels.push_back(lo + k * step);
  drawPanel(cr, headingBox, time, levels, py,
            "the robot's heading (blue) and the ball's direction from it (orange), in degrees "
            "right of the start heading: where they meet, it faces the ball",
            run, {{ballColour, ballDirection}, {robotColour, heading}}, 180);
}

void drawCodes(cairo_t* cr, const Run& run, const Timeline& time) {
  for (std::size_t i = 0; i < run.events.size(); ++i) {
    const LineEvent& e = run.events[i];
    double until = std::min(e.t + frameHoldS, time.end);
    if (i + 1 < run.events.size()) until = std::min(until, run.events[i + 1].t);
    setColour(cr, codeColours[std::clamp(e.code, 0, 5)]);
    cairo_rectangle(cr, time.px(e.t), codeBox.top, std::max(time.px(until) - time.px(e.t), 1.5),
                    codeBox.h);
    cairo_fill(cr);
  }
  outline(cr, codeBox);
  text(cr, codeBox.left - 6, codeBox.top + 15, "code", 12, 1);
  for (const double t : multiples(time.step, time.end))
    text(cr, time.px(t), codeBox.bottom() + 16, format("%g", t), 12, 0.5);
  text(cr, codeBox.right(), codeBox.bottom() + 32, "time (s)", 12, 1);

  double x = codeBox.left;
  const double y = height - 18;
  text(cr, x, y, "frames reaching the board:", 12);
  x += 170;
  for (int code = 1; code <= 6; ++code) {
    const int i = code % 6;  // stop last
    setColour(cr, codeColours[i]);
    cairo_rectangle(cr, x, y - 11, 14, 14);
    cairo_fill(cr);
    setColour(cr, ink);
    text(cr, x + 19, y, codeNames[i], 12);
    x += 105;
  }
  text(cr, x - 10, y, "blank: motors off", 12);
}

// A line down every panel at an instant, labelled at the top of the first, however short the
// frame that marks it.
void markInstant(cairo_t* cr, double t, const Timeline& time, Colour colour,
                 const std::string& what) {
  const double x = time.px(t);
  setColour(cr, colour);
  cairo_set_line_width(cr, 2);
  const double dashes[] = {6, 4};
  cairo_set_dash(cr, dashes, 2, 0);
  for (const Box& box : {columnBox, distanceBox, headingBox, codeBox})
    line(cr, x, box.top, x, box.bottom());
  cairo_stroke(cr);
  cairo_set_dash(cr, nullptr, 0, 0);
  line(cr, x - 6, codeBox.bottom() + 8, x + 6, codeBox.bottom() + 8);
  cairo_line_to(cr, x, codeBox.bottom());
  cairo_close_path(cr);
  cairo_fill(cr);
  const bool nearEnd = x > columnBox.right() - 160;
  text(cr, nearEnd ? x - 5 : x + 5, columnBox.top + 15, what, 12, nearEnd ? 1 : 0, true);
}

// What the run was made of: the robot, the camera, and the clock it ran on.
std::string settingsLine(const Run& run) {
  const RobotSettings& r = run.scenario.robot;
  const CameraSettings& c = run.scenario.camera;
  return format("robot: top speed %.2f m/s", r.topSpeedMPerS) +
         format(", wheel base %.3f m", r.wheelBaseM) + format(", lag %.0f ms", r.lagS * 1000) +
         ", dead band " + std::to_string(r.deadBandDuty) +
         format("  ·  camera: %.0f frames/s", c.frameRateHz) +
         format(", latency %.0f ms", c.latencyS * 1000) +
         format(", %.1f° across", c.fieldOfViewDeg) +
         (run.realTime ? "  ·  real time: the steer program" : "  ·  lockstep: simulated clock");
}

void drawTitle(cairo_t* cr, const Run& run) {
  const Scenario& s = run.scenario;
  std::string title = s.name.empty() ? "virtual-robot" : s.name;
  if (!s.label.empty()) title += "  (" + s.label + ")";
  std::string steer = "steer";
  for (const std::string& option : s.steer.options) steer += " " + option;
  setColour(cr, ink);
  text(cr, 20, 24, title, 17, 0, true);
  text(cr, width - 20, 24, steer, 13, 1);
  text(cr, 20, 48, headline(run.measures, "  ·  "), 13);
  text(cr, 20, 68, settingsLine(run), 12);
}

bool endsWith(const std::string& path, const char* suffix) {
  return std::filesystem::path(path).extension() == suffix;
}

}  // namespace

bool isPictureName(const std::string& path) {
  return endsWith(path, ".png") || endsWith(path, ".svg") || endsWith(path, ".pdf");
}

bool drawPicture(const Run& run, const std::string& path, std::string& why) {
  const Canvas canvas(endsWith(path, ".svg") ? cairo_svg_surface_create(path.c_str(), width, height)
                      : endsWith(path, ".pdf")
                          ? cairo_pdf_surface_create(path.c_str(), width, height)
                          : cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height));
  cairo_t* cr = canvas.context.get();

  const Timeline time = timelineOf(run);
  const Run shown = upTo(run, time.end);
  drawTitle(cr, shown);
  drawField(cr, shown, time);
  drawColumns(cr, shown, time);
  drawDistance(cr, shown, time);
  drawHeading(cr, shown, time);
  drawCodes(cr, shown, time);
  if (run.measures.firstAlignedS >= 0 && run.measures.firstAlignedS <= time.end) {
    markInstant(cr, run.measures.firstAlignedS, time, codeColours[5], "first code 5");
  }
  if (run.measures.scored) markInstant(cr, run.measures.scoredS, time, goalColour, "scored");
  return finish(canvas, path, "the picture", why);
}

}  // namespace robot
