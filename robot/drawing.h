// What the run's picture and a sweep's chart draw with (cairo).
#pragma once

#include <cairo.h>

#include <memory>
#include <string>

namespace robot::drawing {

struct Colour {
  double r, g, b;
};
inline constexpr Colour ink{0.15, 0.15, 0.15};
inline constexpr Colour faint{0.88, 0.88, 0.88};
inline constexpr Colour robotColour{0.2, 0.3, 0.45};
inline constexpr Colour ballColour{0.95, 0.5, 0.05};
inline constexpr Colour goalColour{0.45, 0.1, 0.55};
inline constexpr Colour scoredColour{0.17, 0.63, 0.17};

// A surface painted white and a context drawing on it, destroyed together.
struct Canvas {
  explicit Canvas(cairo_surface_t* made);
  std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> surface;
  std::unique_ptr<cairo_t, decltype(&cairo_destroy)> context;
};

void setColour(cairo_t* cr, Colour c, double alpha = 1);

// Adds a straight line from (x0, y0) to (x1, y1), and a whole circle, to the path.
void line(cairo_t* cr, double x0, double y0, double x1, double y1);
void circle(cairo_t* cr, double x, double y, double r);

// `s` with its left edge (align 0), middle (0.5) or right edge (1) at x, its baseline at y.
void text(cairo_t* cr, double x, double y, const std::string& s, double size, double align = 0,
          bool bold = false);

// printf's rendering of one number.
std::string format(const char* pattern, double value);

// 1, 2 or 5 times a power of ten, at least `rough`.
double niceStep(double rough);

// Ends the drawing: an image surface is written as PNG, SVG and PDF ones (written as they are
// drawn) are finished. False, with the reason in `why`, when drawing failed or the file cannot be
// written; `what` names the file in the reason: "the picture", "the chart".
bool finish(const Canvas& canvas, const std::string& path, const char* what, std::string& why);

}  // namespace robot::drawing
