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

// A table made as Markdown and as CSV at once, a row at a time; a column may be the CSV's alone.
struct Table {
  std::string md, csv;  // the rows ended
  std::vector<std::string> mdCells, csvCells, rule;

  // A column's heading in each; Markdown sets numbers (`right`) to the right.
  void head(const std::string& inMd, const std::string& inCsv, bool right) {
    cells(inMd, inCsv);
    rule.emplace_back(right ? "--:" : "---");
  }
  void cells(const std::string& inMd, const std::string& inCsv) {
    mdCells.push_back(inMd);
    csvCells.push_back(inCsv);
  }
  void csvOnly(const std::string& cell) { csvCells.push_back(cell); }
  // Ends the row, and after the headings their rule.
  void endRow() {
    for (const std::vector<std::string>* row : {&mdCells, &rule}) {
      if (row->empty()) continue;
      md += "|";
      for (const std::string& cell : *row) md += " " + cell + " |";
      md += "\n";
    }
    std::string row;
    for (const std::string& cell : csvCells) row += (row.empty() ? "" : ",") + cell;
    csv += row + "\n";
    mdCells.clear();
    csvCells.clear();
    rule.clear();
  }
};

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

// The summary as Markdown and as CSV: a row per settings line, best first.
Table summaryTables(const std::vector<SweepRow>& rows) {
  Table t;
  for (const Varied& v : variedOf(rows))
    if (!v.situation) t.head(mdText(v.setting), v.setting, false);
  t.head("runs", "runs", true);
  t.csvOnly("runs_done");
  const std::vector<const MeasureDefinition*> definitions = headlines();
  for (const MeasureDefinition* measure : definitions) {
    const bool share = measure->reading == Reading::yesNo;
    t.head(share ? std::string(measure->name) : "median " + heading(*measure),
           (share ? "share_" : "median_") + std::string(measure->key), true);
  }
  t.endRow();
  for (const Line& line : settingsLines(rows)) {
    for (const std::string& setting : line.settings) t.cells(mdText(setting), csvText(setting));
    t.cells(std::to_string(line.count), std::to_string(line.count));
    t.csvOnly(std::to_string(line.runs.size()));
    for (size_t i = 0; i < definitions.size(); ++i) {
      const MeasureDefinition& measure = *definitions[i];
      t.cells(lineCell(measure, line, line.values[i]),
              csvCell(measure.reading == Reading::yesNo ? kShare : measure, line.values[i]));
    }
    t.endRow();
  }
  return t;
}

}  // namespace

std::string runLine(size_t index, const std::vector<SweepRow>& rows) {
  const SweepRow& row = rows[index];
  std::string line = "run " + std::to_string(index + 1) + " of " + std::to_string(rows.size());
  if (!row.scenario.label.empty()) line += " (" + row.scenario.label + ")";
  return line + ": " + (row.done ? headline(row.measures, ", ") : std::string("failed")) + "\n";
}

std::string settingsSummary(const std::vector<SweepRow>& rows) { return summaryTables(rows).md; }

bool writeSweepTables(const std::vector<SweepRow>& rows, const std::string& dir, std::string& why) {
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  Table t;
  t.head("run", "run", true);
  t.csvOnly("label");
  for (const Varied& v : variedOf(rows)) t.head(mdText(v.setting), v.setting, false);
  t.csvOnly("steer_band_columns");
  for (const MeasureDefinition& measure : measureDefinitions())
    t.head(heading(measure), std::string(measure.key), true);
  t.head("picture", "picture", false);
  t.endRow();
  for (size_t i = 0; i < rows.size(); ++i) {
    const SweepRow& row = rows[i];
    t.cells(std::to_string(i + 1), std::to_string(i + 1));
    t.csvOnly(csvText(row.scenario.label));
    for (const Varied& v : row.scenario.varied) t.cells(mdText(v.value), csvText(v.value));
    t.csvOnly(row.done ? std::to_string(row.band) : "");
    for (const MeasureDefinition& measure : measureDefinitions()) {
      const double value = measure.value(row.measures);
      t.cells(row.done ? shown(measure, value, false) : "failed",
              row.done ? csvCell(measure, value) : "");
    }
    t.cells(row.picture.empty() ? "" : "[picture](<" + row.picture + ">)", csvText(row.picture));
    t.endRow();
  }
  const Table summary = summaryTables(rows);
  return saved(dir + "/table.md", t.md, why) && saved(dir + "/table.csv", t.csv, why) &&
         saved(dir + "/summary.md", summary.md, why) &&
         saved(dir + "/summary.csv", summary.csv, why);
}

}  // namespace robot
