#include "robot/sweep_chart.h"

#include <cairo.h>

#include <algorithm>
#include <string>

#include "robot/drawing.h"

namespace robot {
namespace {

using namespace drawing;

constexpr double labelWidth = 330;
constexpr double cellWidth = 96;
constexpr double rowHeight = 30;
constexpr double top = 96;
constexpr double left = 20;
constexpr Colour missedColour{0.9, 0.9, 0.9};

// The label without its bearing: the settings line.
std::string lineOf(const std::string& label) {
  std::string line = label;
  const std::string bearing = "ball_bearing_deg=";
  for (size_t at = line.find(bearing); at != std::string::npos; at = line.find(bearing, at)) {
    const size_t end = line.find(' ', at);
    const size_t from = at > 0 && line[at - 1] == ' ' ? at - 1 : at;
    line.erase(from, end == std::string::npos ? std::string::npos : end - from);
    at = from;
  }
  if (!line.empty() && line.front() == ' ') line.erase(0, 1);
  return line.empty() ? "all settings alike" : line;
}

// `s` at the largest size up to 12 that fits in `room` pixels.
void fittedText(cairo_t* cr, double x, double y, const std::string& s, double room) {
  double size = 12;
  cairo_text_extents_t extents;
  for (int halves = 24; halves > 14; --halves) {
    size = halves / 2.0;
    cairo_set_font_size(cr, size);
    cairo_text_extents(cr, s.c_str(), &extents);
    if (extents.x_advance <= room) break;
  }
  text(cr, x, y, s, size);
}

void drawCell(cairo_t* cr, double x, double y, const SweepRow* row) {
  if (row == nullptr) return;
  const Measures& m = row->measures;
  setColour(cr, m.scored ? scoredColour : missedColour, m.scored ? 0.75 : 1);
  cairo_rectangle(cr, x + 2, y + 2, cellWidth - 4, rowHeight - 4);
  cairo_fill(cr);
  setColour(cr, m.scored ? Colour{1, 1, 1} : ink);
  text(cr, x + cellWidth / 2, y + 20,
       m.scored ? format("%.2f s", m.scoredS) : format("%.2f m", m.finalBallDistanceM), 12, 0.5,
       m.scored);
}

}  // namespace

SweepGrid sweepGrid(const std::vector<SweepRow>& rows) {
  SweepGrid grid;
  for (const SweepRow& row : rows) grid.bearings.push_back(row.scenario.field.ballBearingDeg);
  std::sort(grid.bearings.begin(), grid.bearings.end());
  grid.bearings.erase(std::unique(grid.bearings.begin(), grid.bearings.end()), grid.bearings.end());
  for (const SweepRow& row : rows) {
    const std::string line = lineOf(row.scenario.label);
    auto at = std::find(grid.lines.begin(), grid.lines.end(), line);
    if (at == grid.lines.end()) {
      grid.lines.push_back(line);
      grid.cells.emplace_back(grid.bearings.size(), nullptr);
      at = grid.lines.end() - 1;
    }
    const auto column = std::lower_bound(grid.bearings.begin(), grid.bearings.end(),
                                         row.scenario.field.ballBearingDeg) -
                        grid.bearings.begin();
    const SweepRow*& cell =
        grid.cells[static_cast<size_t>(at - grid.lines.begin())][static_cast<size_t>(column)];
    if (cell == nullptr) cell = &row;
  }
  return grid;
}

bool drawSweepChart(const std::vector<SweepRow>& rows, bool lockstep, const std::string& pngPath,
                    std::string& why) {
  const SweepGrid grid = sweepGrid(rows);
  const double columns = static_cast<double>(grid.bearings.size()) + 1;  // and the scored count
  const int width = static_cast<int>(std::max(760.0, left * 2 + labelWidth + columns * cellWidth));
  const int height =
      static_cast<int>(top + static_cast<double>(grid.lines.size()) * rowHeight + 50);
  const Canvas canvas(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height));
  cairo_t* cr = canvas.context.get();

  const std::string name = rows.empty() ? "" : rows.front().scenario.name;
  setColour(cr, ink);
  text(cr, left, 26, name + ": " + std::to_string(rows.size()) + " runs", 17, 0, true);
  text(cr, left, 48,
       std::string("each settings line against the ball's bearing; ") +
           (lockstep ? "lockstep: simulated clock" : "real time: the steer program"),
       12);
  text(cr, left, 66,
       "green: scored, at the time shown; grey: not scored, the ball's distance from the robot "
       "at the end",
       12);
  const double x0 = left + labelWidth;
  for (size_t b = 0; b < grid.bearings.size(); ++b) {
    text(cr, x0 + (static_cast<double>(b) + 0.5) * cellWidth, top - 8,
         format("%g° right", grid.bearings[b]), 12, 0.5, true);
  }
  const double countX = x0 + static_cast<double>(grid.bearings.size()) * cellWidth;
  text(cr, countX + cellWidth / 2, top - 8, "scored", 12, 0.5, true);

  for (size_t l = 0; l < grid.lines.size(); ++l) {
    const double y = top + static_cast<double>(l) * rowHeight;
    if (l % 2 == 1) {
      setColour(cr, faint, 0.5);
      cairo_rectangle(cr, left, y, countX + cellWidth - left, rowHeight);
      cairo_fill(cr);
    }
    setColour(cr, ink);
    fittedText(cr, left + 4, y + 20, grid.lines[l], labelWidth - 10);
    int scored = 0;
    int runs = 0;
    for (size_t b = 0; b < grid.bearings.size(); ++b) {
      const SweepRow* row = grid.cells[l][b];
      drawCell(cr, x0 + static_cast<double>(b) * cellWidth, y, row);
      runs += row != nullptr ? 1 : 0;
      scored += row != nullptr && row->measures.scored ? 1 : 0;
    }
    setColour(cr, ink);
    text(cr, countX + cellWidth / 2, y + 20, std::to_string(scored) + " of " + std::to_string(runs),
         12, 0.5);
  }
  return finish(canvas, pngPath, "the chart", why);
}

}  // namespace robot
