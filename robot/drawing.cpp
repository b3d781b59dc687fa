#include "robot/drawing.h"

#include <cmath>
#include <cstdio>
#include <numbers>

namespace robot::drawing {

Canvas::Canvas(cairo_surface_t* made)
    : surface(made, cairo_surface_destroy), context(cairo_create(made), cairo_destroy) {
  cairo_set_source_rgb(context.get(), 1, 1, 1);
  cairo_paint(context.get());
}

void setColour(cairo_t* cr, Colour c, double alpha) {
  cairo_set_source_rgba(cr, c.r, c.g, c.b, alpha);
}

void line(cairo_t* cr, double x0, double y0, double x1, double y1) {
  cairo_move_to(cr, x0, y0);
  cairo_line_to(cr, x1, y1);
}

void circle(cairo_t* cr, double x, double y, double r) {
  cairo_arc(cr, x, y, r, 0, 2 * std::numbers::pi);
}

void text(cairo_t* cr, double x, double y, const std::string& s, double size, double align,
          bool bold) {
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

double niceStep(double rough) {
  const double power = std::pow(10, std::floor(std::log10(rough)));
  for (const double m : {1.0, 2.0, 5.0})
    if (m * power >= rough) return m * power;
  return 10 * power;
}

bool finish(const Canvas& canvas, const std::string& path, const char* what, std::string& why) {
  cairo_surface_t* surface = canvas.surface.get();
  cairo_status_t status = cairo_status(canvas.context.get());
  if (status == CAIRO_STATUS_SUCCESS &&
      cairo_surface_get_type(surface) == CAIRO_SURFACE_TYPE_IMAGE) {
    status = cairo_surface_write_to_png(surface, path.c_str());
  } else if (status == CAIRO_STATUS_SUCCESS) {
    cairo_surface_finish(surface);
    status = cairo_surface_status(surface);
  }
  if (status != CAIRO_STATUS_SUCCESS) {
    why = std::string("cannot write ") + what + " " + path + ": " + cairo_status_to_string(status);
    return false;
  }
  why.clear();
  return true;
}

}  // namespace robot::drawing
