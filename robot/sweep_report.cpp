#include "robot/sweep_report.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <system_error>

#include "robot/report.h"

namespace robot {
namespace {

constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
// A share of runs reads as a share of the time does.
constexpr MeasureDefinition kShare{"", "", "", Reading::share, 0, false, nullptr};

std::string csvText(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

// A | in a cell would split it.
std::string mdText(const std::string& text) {
  std::string shown;
  for (const char c : text) shown += c == '|' ? std::string("\\|") : std::string(1, c);
  return shown;
}

std::string mdRow(const std::vector<std::string>& cells) {
  std::string row = "|";
  for (const std::string& cell : cells) row += " " + cell + " |";
  return row + "\n";
}

std::string csvRow(const std::vector<std::string>& cells) {
  std::string row;
  for (const std::string& cell : cells) row += (row.empty() ? "" : ",") + cell;
  return row + "\n";
}

// The settings that vary, as every run of the sweep has them.
const std::vector<Varied>& variedOf(const std::vector<SweepRow>& rows) {
  static const std::vector<Varied> none;
  return rows.empty() ? none : rows.front().scenario.varied;
}

// A settings line: the runs that share every varied setting but the situations.
struct Line {
  std::vector<std::string> settings;
  std::vector<const SweepRow*> runs;  // those done
  size_t count = 0;                   // all of them
  std::vector<double> values;         // each headline measure's over the runs done
};

// Over a line's runs: for yes-or-no, the share of runs that said yes; else the median, a run
// without the value (it never scored, never entered the band) counting as the worst.
double over(const MeasureDefinition& measure, const std::vector<const SweepRow*>& runs) {
  if (runs.empty()) return kNone;
  const double worst = measure.better < 0 ? std::numeric_limits<double>::infinity() : 0;
  std::vector<double> values;
  for (const SweepRow* run : runs) {
    const double value = measure.value(run->measures);
    values.push_back(std::isnan(value) ? worst : value);
  }
  if (measure.reading == Reading::yesNo)
    return static_cast<double>(
               std::count_if(values.begin(), values.end(), [](double v) { return v > 0; })) /
           static_cast<double>(values.size());
  std::sort(values.begin(), values.end());
  const size_t half = values.size() / 2;
  const double median =
      values.size() % 2 == 1 ? values[half] : (values[half - 1] + values[half]) / 2;
  return std::isinf(median) ? kNone : median;
}

std::vector<const MeasureDefinition*> headlines() {
  std::vector<const MeasureDefinition*> definitions;
  for (const MeasureDefinition& measure : measureDefinitions())
    if (measure.headline) definitions.push_back(&measure);
  return definitions;
}

// Whether line a achieved more than line b: the first headline measure that differs decides.
bool ahead(const Line& a, const Line& b, const std::vector<const MeasureDefinition*>& definitions) {
  for (size_t i = 0; i < definitions.size(); ++i) {
    const double x = a.values[i];
    const double y = b.values[i];
    if (std::isnan(x) || std::isnan(y) || x == y) {
      if (std::isnan(x) != std::isnan(y)) return std::isnan(y);
      continue;
    }
    if (definitions[i]->better != 0) return definitions[i]->better > 0 ? x > y : x < y;
  }
  return false;
}

// The settings lines in the order the sweep first ran them, then ranked, best first.
std::vector<Line> settingsLines(const std::vector<SweepRow>& rows) {
  std::vector<Line> lines;
  for (const SweepRow& row : rows) {
    std::vector<std::string> settings;
    for (const Varied& v : row.scenario.varied)
      if (!v.situation) settings.push_back(v.value);
    auto line = std::find_if(lines.begin(), lines.end(),
                             [&](const Line& l) { return l.settings == settings; });
    if (line == lines.end()) line = lines.insert(lines.end(), Line{settings, {}, 0, {}});
    ++line->count;
    if (row.done) line->runs.push_back(&row);
  }
  const std::vector<const MeasureDefinition*> definitions = headlines();
  for (Line& line : lines)
    for (const MeasureDefinition* measure : definitions)
      line.values.push_back(over(*measure, line.runs));
  std::stable_sort(lines.begin(), lines.end(),
                   [&](const Line& a, const Line& b) { return ahead(a, b, definitions); });
  return lines;
}

std::string lineCell(const MeasureDefinition& measure, const Line& line, double value) {
  if (measure.reading != Reading::yesNo) return shown(measure, value, false);
  const auto yes = static_cast<long>(std::lround(value * static_cast<double>(line.runs.size())));
  return line.runs.empty() ? "-" : std::to_string(yes) + " of " + std::to_string(line.runs.size());
}

std::string summaryCsv(const std::vector<SweepRow>& rows) {
  std::vector<std::string> head;
  for (const Varied& v : variedOf(rows))
    if (!v.situation) head.push_back(v.setting);
  head.emplace_back("runs");
  head.emplace_back("runs_done");
  const std::vector<const MeasureDefinition*> definitions = headlines();
  for (const MeasureDefinition* measure : definitions)
    head.push_back(std::string(measure->reading == Reading::yesNo ? "share_" : "median_") +
                   std::string(measure->key));
  std::string csv = csvRow(head);
  for (const Line& line : settingsLines(rows)) {
    std::vector<std::string> cells;
    for (const std::string& setting : line.settings) cells.push_back(csvText(setting));
    cells.push_back(std::to_string(line.count));
    cells.push_back(std::to_string(line.runs.size()));
    for (size_t i = 0; i < definitions.size(); ++i)
      cells.push_back(definitions[i]->reading == Reading::yesNo
                          ? csvCell(kShare, line.values[i])
                          : csvCell(*definitions[i], line.values[i]));
    csv += csvRow(cells);
  }
  return csv;
}

}  // namespace

std::string runLine(size_t index, const std::vector<SweepRow>& rows) {
  const SweepRow& row = rows[index];
  std::string line = "run " + std::to_string(index + 1) + " of " + std::to_string(rows.size());
  if (!row.scenario.label.empty()) line += " (" + row.scenario.label + ")";
  return line + ": " + (row.done ? headline(row.measures, ", ") : std::string("failed")) + "\n";
}

std::string settingsSummary(const std::vector<SweepRow>& rows) {
  std::vector<std::string> head;
  std::vector<std::string> rule;
  for (const Varied& v : variedOf(rows)) {
    if (v.situation) continue;
    head.push_back(mdText(v.setting));
    rule.emplace_back("---");
  }
  head.emplace_back("runs");
  rule.emplace_back("--:");
  const std::vector<const MeasureDefinition*> definitions = headlines();
  for (const MeasureDefinition* measure : definitions) {
    head.push_back(measure->reading == Reading::yesNo ? std::string(measure->name)
                                                      : "median " + heading(*measure));
    rule.emplace_back("--:");
  }
  std::string md = mdRow(head) + mdRow(rule);
  for (const Line& line : settingsLines(rows)) {
    std::vector<std::string> cells;
    for (const std::string& setting : line.settings) cells.push_back(mdText(setting));
    cells.push_back(std::to_string(line.count));
    for (size_t i = 0; i < definitions.size(); ++i)
      cells.push_back(lineCell(*definitions[i], line, line.values[i]));
    md += mdRow(cells);
  }
  return md;
}

bool writeSweepTables(const std::vector<SweepRow>& rows, const std::string& dir, std::string& why) {
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  std::vector<std::string> mdHead{"run"};
  std::vector<std::string> rule{"--:"};
  std::vector<std::string> csvHead{"run", "label"};
  for (const Varied& v : variedOf(rows)) {
    mdHead.push_back(mdText(v.setting));
    rule.emplace_back("---");
    csvHead.push_back(v.setting);
  }
  csvHead.emplace_back("steer_band_columns");
  for (const MeasureDefinition& measure : measureDefinitions()) {
    mdHead.push_back(heading(measure));
    rule.emplace_back("--:");
    csvHead.emplace_back(measure.key);
  }
  mdHead.emplace_back("picture");
  rule.emplace_back("---");
  csvHead.emplace_back("picture");
  std::string md = mdRow(mdHead) + mdRow(rule);
  std::string csv = csvRow(csvHead);
  for (size_t i = 0; i < rows.size(); ++i) {
    const SweepRow& row = rows[i];
    std::vector<std::string> mdCells{std::to_string(i + 1)};
    std::vector<std::string> csvCells{std::to_string(i + 1), csvText(row.scenario.label)};
    for (const Varied& v : row.scenario.varied) {
      mdCells.push_back(mdText(v.value));
      csvCells.push_back(csvText(v.value));
    }
    csvCells.push_back(row.done ? std::to_string(row.band) : "");
    for (const MeasureDefinition& measure : measureDefinitions()) {
      const double value = measure.value(row.measures);
      mdCells.push_back(row.done ? shown(measure, value, false) : "failed");
      csvCells.push_back(row.done ? csvCell(measure, value) : "");
    }
    mdCells.push_back(row.picture.empty() ? "" : "[picture](<" + row.picture + ">)");
    csvCells.push_back(csvText(row.picture));
    md += mdRow(mdCells);
    csv += csvRow(csvCells);
  }
  return saved(dir + "/table.md", md, why) && saved(dir + "/table.csv", csv, why) &&
         saved(dir + "/summary.md", settingsSummary(rows), why) &&
         saved(dir + "/summary.csv", summaryCsv(rows), why);
}

}  // namespace robot
