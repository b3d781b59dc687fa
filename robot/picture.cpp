#include "picture.h"

#include <cairo-pdf.h>
#include <cairo-svg.h>
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

namespace robot {
namespace {

constexpr int width = 1000;
constexpr int height = 900;
constexpr double centreColumn = 320;
constexpr double columns = 640;
// The firmware turns the motors off when no whole frame came for this long.
constexpr double frameHoldS = 0.1;

struct Colour {
  double r, g, b;
};
constexpr Colour ink{0.15, 0.15, 0.15};
constexpr Colour faint{0.88, 0.88, 0.88};
constexpr Colour robotColour{0.2, 0.3, 0.45};
constexpr Colour ballColour{0.95, 0.5, 0.05};
constexpr Colour goalColour{0.45, 0.1, 0.55};
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
constexpr Box fieldBox{20, 62, 960, 456};
constexpr Box columnBox{60, 554, 920, 230};
constexpr Box codeBox{60, 794, 920, 22};

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

void setColour(cairo_t* cr, Colour c, double alpha = 1) {
  cairo_set_source_rgba(cr, c.r, c.g, c.b, alpha);
}

void text(cairo_t* cr, double x, double y, const std::string& s, double size, double align = 0,
          bool bold = false) {
  cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL,
                         bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, size);
  cairo_text_extents_t extents;
  cairo_text_extents(cr, s.c_str(), &extents);
  cairo_move_to(cr, x - align * extents.x_advance, y);
  cairo_show_text(cr, s.c_str());
}

std::string format(const char* pattern, double value) {
  char buffer[64];
  (void)std::snprintf(buffer, sizeof buffer, pattern, value);
  return buffer;
}

// 1, 2 or 5 times a power of ten, near `rough`.
double niceStep(double rough) {
  const double power = std::pow(10, std::floor(std::log10(rough)));
  for (const double m : {1.0, 2.0, 5.0})
    if (m * power >= rough) return m * power;
  return 10 * power;
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
  cairo_arc(cr, px, py, r, 0, 2 * std::numbers::pi);
  setColour(cr, robotColour, filled ? 0.35 : 0.08);
  cairo_fill_preserve(cr);
  setColour(cr, robotColour);
  cairo_set_line_width(cr, 2);
  cairo_stroke(cr);
  cairo_move_to(cr, px, py);
  cairo_line_to(cr, px + r * std::cos(s.heading), py - r * std::sin(s.heading));
  cairo_stroke(cr);
}

void drawBall(cairo_t* cr, const FieldView& view, double x, double y, double radiusM, bool filled) {
  cairo_new_sub_path(cr);
  cairo_arc(cr, view.px(x), view.py(y), std::max(radiusM * view.scale, 3.5), 0,
            2 * std::numbers::pi);
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
       ++k) {
    cairo_move_to(cr, view.px(k * step), fieldBox.top);
    cairo_line_to(cr, view.px(k * step), fieldBox.bottom());
  }
  for (auto k = static_cast<int>(std::ceil(yFrom / step)); view.py(k * step) > fieldBox.top; ++k) {
    cairo_move_to(cr, fieldBox.left, view.py(k * step));
    cairo_line_to(cr, fieldBox.right(), view.py(k * step));
  }
  cairo_stroke(cr);
  const double x = fieldBox.left + 14;
  const double y = fieldBox.bottom() - 14;
  setColour(cr, ink);
  cairo_set_line_width(cr, 3);
  cairo_move_to(cr, x, y);
  cairo_line_to(cr, x + step * view.scale, y);
  cairo_stroke(cr);
  text(cr, x + step * view.scale / 2, y - 7, format("%g m", step), 12, 0.5);
}

void drawField(cairo_t* cr, const Run& run) {
  const FieldView view = fitField(run);
  cairo_save(cr);
  cairo_rectangle(cr, fieldBox.left, fieldBox.top, fieldBox.w, fieldBox.h);
  cairo_clip(cr);
  drawGridAndScale(cr, view);

  const FieldSettings& f = run.scenario.field;
  const double leftPost = f.goalCentreM + f.goalWidthM / 2;
  const double rightPost = f.goalCentreM - f.goalWidthM / 2;
  setColour(cr, goalColour);
  cairo_set_line_width(cr, 3);
  cairo_move_to(cr, view.px(f.goalDistanceM), view.py(leftPost));
  cairo_line_to(cr, view.px(f.goalDistanceM), view.py(rightPost));
  cairo_stroke(cr);
  for (const double y : {leftPost, rightPost}) {
    cairo_arc(cr, view.px(f.goalDistanceM), view.py(y), 5, 0, 2 * std::numbers::pi);
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
  }
  cairo_restore(cr);

  setColour(cr, ink);
  cairo_set_line_width(cr, 1);
  cairo_rectangle(cr, fieldBox.left, fieldBox.top, fieldBox.w, fieldBox.h);
  cairo_stroke(cr);
  text(cr, fieldBox.right() - 8, fieldBox.top + 18,
       "from above: x ahead of the start to the right, y to its left up", 12, 1);
  text(cr, fieldBox.right() - 8, fieldBox.top + 36,
       "robot (blue) and ball (orange): hollow at the start, filled at the end; goal (purple)", 12,
       1);
}

// One of a sample's columns over time, as each pixel column's first, lowest, highest and last
// value (so 60,000 samples make ~900 columns of four points); NaN leaves a gap.
void drawColumnSeries(cairo_t* cr, const std::vector<Sample>& samples, double duration,
                      double Sample::*value) {
  const auto py = [](double v) { return columnBox.bottom() - v / columns * columnBox.h; };
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
  for (const Sample& s : samples) {
    const double v = s.*value;
    if (std::isnan(v)) {
      flush();
      penUp = true;
      continue;
    }
    const int x = static_cast<int>(columnBox.left + s.t / duration * columnBox.w);
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

void drawCodes(cairo_t* cr, const Run& run, double duration) {
  const auto px = [&](double t) { return codeBox.left + t / duration * codeBox.w; };
  for (std::size_t i = 0; i < run.events.size(); ++i) {
    const LineEvent& e = run.events[i];
    double until = std::min(e.t + frameHoldS, duration);
    if (i + 1 < run.events.size()) until = std::min(until, run.events[i + 1].t);
    setColour(cr, codeColours[std::clamp(e.code, 0, 5)]);
    cairo_rectangle(cr, px(e.t), codeBox.top, std::max(px(until) - px(e.t), 1.5), codeBox.h);
    cairo_fill(cr);
  }
  setColour(cr, ink);
  cairo_set_line_width(cr, 1);
  cairo_rectangle(cr, codeBox.left, codeBox.top, codeBox.w, codeBox.h);
  cairo_stroke(cr);
  text(cr, codeBox.left - 6, codeBox.top + 15, "code", 12, 1);

  double x = codeBox.left;
  const double y = 872;
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

void drawColumns(cairo_t* cr, const Run& run, double duration) {
  const auto py = [](double v) { return columnBox.bottom() - v / columns * columnBox.h; };
  setColour(cr, bandColour);
  cairo_rectangle(cr, columnBox.left, py(centreColumn + run.band), columnBox.w,
                  std::max(py(centreColumn - run.band) - py(centreColumn + run.band), 1.0));
  cairo_fill(cr);

  setColour(cr, faint);
  cairo_set_line_width(cr, 1);
  const double step = niceStep(duration / 12);
  for (int k = 0; k * step <= duration * 1.0001; ++k) {
    const double t = k * step;
    const double x = columnBox.left + t / duration * columnBox.w;
    setColour(cr, faint);
    cairo_move_to(cr, x, columnBox.top);
    cairo_line_to(cr, x, columnBox.bottom());
    cairo_stroke(cr);
    setColour(cr, ink);
    text(cr, x, codeBox.bottom() + 16, format("%g", t), 12, 0.5);
  }
  text(cr, columnBox.right(), codeBox.bottom() + 32, "time (s)", 12, 1);
  for (int u = 0; u <= 640; u += 160) {
    setColour(cr, faint);
    cairo_move_to(cr, columnBox.left, py(u));
    cairo_line_to(cr, columnBox.right(), py(u));
    cairo_stroke(cr);
    setColour(cr, ink);
    text(cr, columnBox.left - 6, py(u) + 4, std::to_string(u), 12, 1);
  }

  cairo_save(cr);
  cairo_rectangle(cr, columnBox.left, columnBox.top, columnBox.w, columnBox.h);
  cairo_clip(cr);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  setColour(cr, goalColour);
  cairo_set_line_width(cr, 1.5);
  drawColumnSeries(cr, run.samples, duration, &Sample::goalColumn);
  setColour(cr, ballColour);
  drawColumnSeries(cr, run.samples, duration, &Sample::u);
  cairo_restore(cr);
  // The band's edges again over the lines, which may cover all of it.
  setColour(cr, bandColour, 0.9);
  cairo_set_line_width(cr, 1);
  for (const int edge : {-run.band, run.band}) {
    cairo_move_to(cr, columnBox.left, py(centreColumn + edge));
    cairo_line_to(cr, columnBox.right(), py(centreColumn + edge));
  }
  cairo_stroke(cr);

  setColour(cr, ink);
  cairo_rectangle(cr, columnBox.left, columnBox.top, columnBox.w, columnBox.h);
  cairo_stroke(cr);
  text(cr, columnBox.left, columnBox.top - 8,
       "columns written: the ball's u (orange) and steer's goal column (purple); steer's band " +
           std::to_string(320 - run.band) + " to " + std::to_string(320 + run.band) +
           " (green); 0 is the picture's left edge",
       12);
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
}

bool endsWith(const std::string& path, const char* suffix) {
  return std::filesystem::path(path).extension() == suffix;
}

}  // namespace

bool isPictureName(const std::string& path) {
  return endsWith(path, ".png") || endsWith(path, ".svg") || endsWith(path, ".pdf");
}

bool drawPicture(const Run& run, const std::string& path, std::string& why) {
  // SVG and PDF are written as they are drawn, PNG at the end.
  cairo_surface_t* made =
      endsWith(path, ".svg")   ? cairo_svg_surface_create(path.c_str(), width, height)
      : endsWith(path, ".pdf") ? cairo_pdf_surface_create(path.c_str(), width, height)
                               : cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  const std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> surface(
      made, cairo_surface_destroy);
  const std::unique_ptr<cairo_t, decltype(&cairo_destroy)> context(cairo_create(surface.get()),
                                                                   cairo_destroy);
  cairo_t* cr = context.get();
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);

  double duration = run.scenario.run.durationS;
  if (!run.samples.empty()) duration = std::max(duration, run.samples.back().t);
  if (!(duration > 0)) duration = 1;
  drawTitle(cr, run);
  drawField(cr, run);
  drawColumns(cr, run, duration);
  drawCodes(cr, run, duration);

  cairo_status_t status = cairo_status(cr);
  if (status == CAIRO_STATUS_SUCCESS && endsWith(path, ".png")) {
    status = cairo_surface_write_to_png(surface.get(), path.c_str());
  } else if (status == CAIRO_STATUS_SUCCESS) {
    cairo_surface_finish(surface.get());
    status = cairo_surface_status(surface.get());
  }
  if (status != CAIRO_STATUS_SUCCESS) {
    why = "cannot write the picture " + path + ": " + cairo_status_to_string(status);
    return false;
  }
  why.clear();
  return true;
}

}  // namespace robot
