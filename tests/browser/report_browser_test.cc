// tests/browser/report_browser_test.cc: report.html as a reader's browser
// shows it. combosim-batch runs a 1 by 1 grid, a 10 by 10 grid, a scenario
// whose every trial stops in phase I and a 2 by 2 one; headless Chromium
// (scripts/chromium-headless.sh) renders the report. From the DOM it
// renders, every heat-map cell and every metric must carry the values of
// NAME.json; its screenshot must show the scale's colours. A study's
// report (combosim-study) must carry designs.csv and differences.csv and
// show its points and bars. Needs Debian's
// chromium (`make deps`): CTest label "browser".
#include <gtest/gtest.h>
#include <png.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <regex>
#include <set>

#include "batch/scenariofile.h"
#include "tests/program_runner.h"

namespace {

using namespace programrunner;

// Runs `command` through the shell. Returns its exit status, or -1.
int shell(const std::string& command) {
  const int wait = std::system(command.c_str());
  return wait != -1 && WIFEXITED(wait) ? WEXITSTATUS(wait) : -1;
}

// Every pixel colour of a PNG file, as 0xrrggbb.
std::set<unsigned> pngcolours(const fs::path& path, std::string& problem) {
  std::set<unsigned> colours;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) {
    problem = image.message;
    return colours;
  }
  image.format = PNG_FORMAT_RGB;
  std::vector<png_byte> pixels(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
    problem = image.message;
    return colours;
  }
  for (std::size_t i = 0; i + 2 < pixels.size(); i += 3) {
    colours.insert(pixels[i] << 16 | pixels[i + 1] << 8 | pixels[i + 2]);
  }
  return colours;
}

// "#rrggbb" as 0xrrggbb.
unsigned rgb(const std::string& hex) {
  return static_cast<unsigned>(std::stoul(hex.substr(1), nullptr, 16));
}

double number(const std::string& text) { return std::strtod(text.c_str(), nullptr); }

std::string decimals(double v, int n) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", n, v);
  return text;
}

// The figure `map` shows at [d1][d2] in the result `j`, NaN where none; and
// the decimals the page shows it with.
double expectedcell(const Json& j, const std::string& map, std::size_t d1,
                    std::size_t d2, int& shown) {
  if (map == "selection") {
    shown = 1;
    return j["selectionpercent"][d1][d2].get<double>();
  }
  if (map == "patients") {
    shown = 1;
    return j["averages"]["patients"][d1][d2].get<double>();
  }
  shown = 2;
  const double npat = j["sums"]["patients"][d1][d2].get<double>();
  return npat > 0 ? j["sums"]["toxicities"][d1][d2].get<double>() / npat : NAN;
}

// Expects the heat maps of one scenario's section of the DOM to carry the
// figures of its result file `j`.
void expectcells(const std::string& section, const Json& j) {
  static const std::regex cell(
      "<g class=\"cell\" data-map=\"([a-z]+)\" data-d1=\"([0-9]+)\" "
      "data-d2=\"([0-9]+)\" data-value=\"([^\"]*)\">.*?"
      "<text class=\"value[^\"]*\"[^>]*>([^<]*)</text>"
      "<text class=\"truth[^\"]*\"[^>]*>([^<]*)</text></g>");
  const std::string name = j["name"];
  const std::size_t nd1 = j["scenario"]["ndose1"];
  const std::size_t nd2 = j["scenario"]["ndose2"];
  std::map<std::string, std::size_t> count;
  for (std::sregex_iterator m(section.begin(), section.end(), cell), end;
       m != end; ++m) {
    const std::string map = (*m)[1];
    const std::size_t d1 = std::stoul((*m)[2]) - 1;
    const std::size_t d2 = std::stoul((*m)[3]) - 1;
    const std::string where = name + " " + map + " (" + std::to_string(d1 + 1) +
                              ", " + std::to_string(d2 + 1) + ")";
    ASSERT_LT(d1, nd1) << where;
    ASSERT_LT(d2, nd2) << where;
    int shown = 0;
    const double value = expectedcell(j, map, d1, d2, shown);
    if (std::isnan(value)) {
      EXPECT_EQ((*m)[4], "") << where;
      EXPECT_EQ((*m)[5], "\u2013") << where;
    } else {
      EXPECT_EQ(number((*m)[4]), value) << where;  // exact
      EXPECT_EQ((*m)[5], decimals(value, shown)) << where;
    }
    // The truth, as toxicity / response.
    const std::string truth = (*m)[6];
    const std::size_t slash = truth.find(" / ");
    ASSERT_NE(slash, std::string::npos) << where;
    EXPECT_EQ(number(truth.substr(0, slash)),
              j["scenario"]["scentox"][d1][d2].get<double>()) << where;
    EXPECT_EQ(number(truth.substr(slash + 3)),
              j["scenario"]["sceneff"][d1][d2].get<double>()) << where;
    ++count[map];
  }
  for (const char* map : {"selection", "patients", "toxrate"}) {
    EXPECT_EQ(count[map], nd1 * nd2) << name << " " << map;
  }
}

TEST(ReportInChromium, CellsAndMetricsCarryTheResultsAndTheScaleShows) {
  if (shell("command -v chromium > /dev/null 2>&1") != 0) {
    std::cerr << "\n*** chromium is not installed: report.html was NOT checked "
                 "in a browser (make deps installs it) ***\n\n";
    GTEST_SKIP() << "chromium is not installed";
  }
  const ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::vector<std::string> stems = {"extreme_1x1", "extreme_10x10",
                                          "extreme_tox1", "batch_small_json"};
  std::string command = "cd " + shellquote(dir.path().string()) + " && " +
                        shellquote(COMBOSIM_BATCH_EXE) +
                        " --seed 5 --out out > /dev/null";
  for (const std::string& stem : stems) {
    const std::string ext = stem == "batch_small_json" ? ".json" : ".txt";
    command += " " + shellquote(sourcefile("tests/fixtures/" + stem + ext).string());
  }
  ASSERT_EQ(shell(command), 0);

  const std::string script =
      shellquote(sourcefile("scripts/chromium-headless.sh").string());
  const fs::path page = dir.path() / "out/report.html";
  const fs::path dom = dir.path() / "dom.html";
  const fs::path shot = dir.path() / "shot.png";
  ASSERT_EQ(shell(script + " --dump-dom " + shellquote(page.string()) + " > " +
                  shellquote(dom.string())),
            0);
  ASSERT_EQ(shell(script + " --screenshot=" + shellquote(shot.string()) +
                  " --window-size=1400,1600 " + shellquote(page.string()) +
                  " > /dev/null"),
            0);
  const std::string text = readfile(dom);

  // Each scenario's section, in the order of the run.
  std::vector<Json> results;
  for (std::size_t i = 0; i < stems.size(); ++i) {
    Json j;
    std::string problem;
    ASSERT_TRUE(readjsonfile((dir.path() / "out" / (stems[i] + ".json")).string(),
                             j, problem)) << problem;
    const std::string open =
        "<section class=\"scenario\" id=\"scenario-" + std::to_string(i + 1) + "\">";
    const std::size_t start = text.find(open);
    ASSERT_NE(start, std::string::npos) << open;
    const std::size_t stop = text.find("</section>", start);
    const std::string section = text.substr(start, stop - start);
    EXPECT_NE(section.find("<h2>" + stems[i] + "</h2>"), std::string::npos);
    expectcells(section, j);
    results.push_back(j);
  }
  // Every scenario stopped in phase I: 100 % inconclusive, which is right.
  EXPECT_NE(text.find("<h2>extreme_tox1</h2>\n<p class=\"glance\">3 by 3 grid, "
                      "3 trials, target toxicity 0.3, lowest acceptable "
                      "response 0.2. Correct selection <strong>100.0 % \u00b1 "
                      "0.0</strong>; no selection 100.0 % \u00b1 0.0;"),
            std::string::npos);

  // The side-by-side table: the k-th cell of a metric is scenario k's.
  static const std::regex metric(
      "<td data-key=\"([a-z0-9_]+)\" data-value=\"([^\"]*)\""
      "(?: data-mcse=\"([^\"]*)\")?>");
  std::map<std::string, std::size_t> seen;
  std::size_t checked = 0;
  for (std::sregex_iterator m(text.begin(), text.end(), metric), end; m != end;
       ++m) {
    const std::string key = (*m)[1];
    ASSERT_LT(seen[key], results.size()) << key;
    const Json& oc = results[seen[key]++]["oc"];
    if (key == "trials") continue;
    ASSERT_TRUE(oc.contains(key)) << key;
    const auto expect = [&](const std::string& shown, const Json& value) {
      if (value.is_null()) {
        EXPECT_EQ(shown, "NaN") << key;
      } else {
        EXPECT_EQ(number(shown), value.get<double>()) << key;
      }
    };
    expect((*m)[2], oc[key]);
    ++checked;
    if (oc.contains(key + "_mcse")) {
      expect((*m)[3], oc[key + "_mcse"]);
      ++checked;
    }
  }
  EXPECT_EQ(checked, results.size() * results[0]["oc"].size());

  // The screenshot is not blank: it shows every colour of the scale, and the
  // fill of the 1 by 1 grid's cells.
  std::string problem;
  const std::set<unsigned> colours = pngcolours(shot, problem);
  ASSERT_EQ(problem, "");
  static const std::regex fill("fill=\"(#[0-9a-f]{6})\"");
  const std::size_t scale = text.find("<g class=\"scale\">");
  ASSERT_NE(scale, std::string::npos);
  const std::string scalerects = text.substr(scale, text.find("</g>", scale) - scale);
  const std::size_t firstcells = text.find("<section class=\"scenario\" id=\"scenario-1\">");
  const std::string section1 =
      text.substr(firstcells, text.find("</section>", firstcells) - firstcells);
  std::size_t fills = 0;
  for (const std::string* part : {&scalerects, &section1}) {
    for (std::sregex_iterator m(part->begin(), part->end(), fill), end; m != end;
         ++m) {
      if ((*m)[1] == "#ffffff" || (*m)[1] == "#000000") continue;
      EXPECT_EQ(colours.count(rgb((*m)[1])), 1u) << (*m)[1] << " not on screen";
      ++fills;
    }
  }
  EXPECT_GE(fills, 9u + 3u);  // the scale's stops, and the three cells
}

// The CSV file at `path` as rows of fields; fields hold no commas here.
std::vector<std::vector<std::string>> csvrows(const fs::path& path) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(readfile(path));
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> fields;
    std::size_t at = 0;
    for (std::size_t comma; (comma = line.find(',', at)) != std::string::npos;
         at = comma + 1) {
      fields.push_back(line.substr(at, comma - at));
    }
    fields.push_back(line.substr(at));
    rows.push_back(fields);
  }
  return rows;
}

TEST(StudyReportInChromium, TablesAndDifferencesCarryTheCsvFiles) {
  if (shell("command -v chromium > /dev/null 2>&1") != 0) {
    std::cerr << "\n*** chromium is not installed: the study's report.html was "
                 "NOT checked in a browser (make deps installs it) ***\n\n";
    GTEST_SKIP() << "chromium is not installed";
  }
  const ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  std::ofstream(dir.path() / "study.json")
      << "{\"scenarios\": [\"" << sourcefile("examples/scenarios/demo.json").string()
      << "\", \"" << sourcefile("examples/scenarios/none_acceptable.json").string()
      << "\"], \"designs\": [{\"name\": \"A\", \"posterior\": \"quadrature\"}, "
         "{\"name\": \"strict\", \"posterior\": \"quadrature\", \"rules\": "
         "{\"escalate\": 0.9}}, {\"name\": \"long\", \"posterior\": "
         "\"quadrature\", \"ncohort2\": 8}], \"reference\": \"A\", \"trials\": "
         "10, \"seed\": 9}";
  ASSERT_EQ(shell("cd " + shellquote(dir.path().string()) + " && " +
                  shellquote(COMBOSIM_STUDY_EXE) + " study.json --out out > /dev/null"),
            0);
  const std::string script =
      shellquote(sourcefile("scripts/chromium-headless.sh").string());
  const fs::path page = dir.path() / "out/report.html";
  const fs::path shot = dir.path() / "shot.png";
  ASSERT_EQ(shell(script + " --dump-dom " + shellquote(page.string()) + " > " +
                  shellquote((dir.path() / "dom.html").string())),
            0);
  ASSERT_EQ(shell(script + " --screenshot=" + shellquote(shot.string()) +
                  " --window-size=1400,1600 " + shellquote(page.string()) +
                  " > /dev/null"),
            0);
  const std::string text = readfile(dir.path() / "dom.html");

  // Every row of designs.csv is a cell of the tables, in order.
  static const std::regex cell(
      "<td class=\"figure[a-z ]*\" data-scenario=\"([^\"]*)\" data-design=\"([^\"]*)\" "
      "data-key=\"([^\"]*)\" data-value=\"([^\"]*)\" data-mcse=\"([^\"]*)\">");
  std::set<std::vector<std::string>> shown;
  for (std::sregex_iterator m(text.begin(), text.end(), cell), end; m != end; ++m) {
    shown.insert({(*m)[1], (*m)[2], (*m)[3], (*m)[4], (*m)[5]});
  }
  const auto designs = csvrows(dir.path() / "out/designs.csv");
  ASSERT_EQ(designs.size(), 1u + 2 * 3 * 13);
  EXPECT_EQ(shown.size(), designs.size() - 1);
  for (std::size_t i = 1; i < designs.size(); ++i) {
    const auto& r = designs[i];
    EXPECT_EQ(shown.count({r[0], r[1], r[2], r[3], r[4]}), 1u) << r[0] << " " << r[1]
                                                             << " " << r[2];
  }
  // Every difference but the reference's own is drawn, with its paired SE.
  static const std::regex bar(
      "<g class=\"difference\" data-scenario=\"([^\"]*)\" data-design=\"([^\"]*)\" "
      "data-figure=\"([^\"]*)\" data-difference=\"([^\"]*)\" data-se=\"([^\"]*)\">");
  std::set<std::vector<std::string>> drawn;
  for (std::sregex_iterator m(text.begin(), text.end(), bar), end; m != end; ++m) {
    drawn.insert({(*m)[1], (*m)[2], (*m)[3], (*m)[4], (*m)[5]});
  }
  const auto differences = csvrows(dir.path() / "out/differences.csv");
  std::size_t compared = 0;
  for (std::size_t i = 1; i < differences.size(); ++i) {
    const auto& r = differences[i];
    if (r[1] == "A") continue;
    EXPECT_EQ(drawn.count({r[0], r[1], r[3], r[4], r[5]}), 1u) << r[0] << " " << r[1]
                                                             << " " << r[3];
    ++compared;
  }
  EXPECT_EQ(compared, 2u * 2 * 13);
  EXPECT_EQ(drawn.size(), compared);

  // The screenshot shows the points and their bars.
  std::string problem;
  const std::set<unsigned> colours = pngcolours(shot, problem);
  ASSERT_EQ(problem, "");
  EXPECT_EQ(colours.count(0x08306b), 1u) << "no point on screen";
  EXPECT_EQ(colours.count(0x2171b5), 1u) << "no bar on screen";
}

}  // namespace
