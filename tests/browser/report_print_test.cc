// tests/browser/report_print_test.cc: report.html printed, as it goes into
// an appendix. combosim-batch runs 16 scenarios under two designs, one of
// them on a 10 by 10 grid with a long name; headless Chromium prints the
// report to PDF (--print-to-pdf) and poppler-utils read it back: pdftotext
// page by page (each scenario starts a page that holds its first map, its
// priors, posterior method and random numbers; the scenarios come grouped by
// design), pdftoppm as greyscale images (no page has ink in the rightmost 3%
// of the paper, where whatever ran off the page would show). Needs Debian's
// chromium and poppler-utils (`make deps`): CTest label "browser".
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "formats/jsonfile.h"
#include "tests/program_runner.h"

namespace {

using namespace programrunner;

int shell(const std::string& command) {
  const int wait = std::system(command.c_str());
  return wait != -1 && WIFEXITED(wait) ? WEXITSTATUS(wait) : -1;
}

// The standard output of `command`, or "" when it fails.
std::string output(const std::string& command) {
  std::string text;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return text;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
    text.append(buffer, n);
  }
  return pclose(pipe) == 0 ? text : "";
}

// The pages of `pdf` that have ink (a pixel darker than 250 of 255) in the
// rightmost `band` of their width, at 50 dots per inch; "" for none. `pages`
// gets the number of pages read.
std::string inkedmargins(const fs::path& pdf, const fs::path& dir, double band,
                         int& pages) {
  const fs::path stem = dir / "page";
  if (shell("pdftoppm -r 50 -gray " + shellquote(pdf.string()) + " " +
            shellquote(stem.string())) != 0) {
    return "pdftoppm failed";
  }
  std::string inked;
  pages = 0;
  for (int p = 1;; ++p) {
    // pdftoppm pads the page number to the width of the last one.
    fs::path file;
    for (const char* format : {"%d", "%02d", "%03d"}) {
      char name[32];
      std::snprintf(name, sizeof name, format, p);
      const fs::path f = stem.string() + "-" + name + ".pgm";
      if (fs::exists(f)) file = f;
    }
    if (file.empty()) break;
    ++pages;
    // A binary PGM: "P5", width, height, 255, one byte per pixel.
    std::istringstream in(readfile(file));
    std::string magic;
    int width = 0, height = 0, maxval = 0;
    in >> magic >> width >> height >> maxval;
    in.get();
    std::string pixels((std::istreambuf_iterator<char>(in)), {});
    if (magic != "P5" || maxval != 255 ||
        pixels.size() != static_cast<std::size_t>(width) * height) {
      return file.string() + ": not a greyscale PGM";
    }
    const int from = width - static_cast<int>(width * band);
    int ink = 0;
    for (int y = 0; y < height; ++y) {
      for (int x = from; x < width; ++x) {
        ink += static_cast<unsigned char>(pixels[y * width + x]) < 250;
      }
    }
    if (ink > 0) inked += " " + std::to_string(p);
  }
  return inked;
}

// The page's text in the order it is drawn, its lines without the empty
// ones.
std::vector<std::string> pagelines(const fs::path& pdf, int page) {
  const std::string p = std::to_string(page);
  std::istringstream in(
      output("pdftotext -raw -f " + p + " -l " + p + " " + shellquote(pdf.string()) + " -"));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (line.find_first_not_of(" \f") != std::string::npos) lines.push_back(line);
  }
  return lines;
}

bool tools(std::string& missing) {
  for (const char* tool : {"chromium", "pdftotext", "pdftoppm"}) {
    if (shell(std::string("command -v ") + tool + " > /dev/null 2>&1") != 0) {
      missing += std::string(missing.empty() ? "" : ", ") + tool;
    }
  }
  return missing.empty();
}

fs::path printpdf(const fs::path& page, const fs::path& pdf) {
  const std::string script =
      shellquote(sourcefile("scripts/chromium-headless.sh").string());
  if (shell(script + " --print-to-pdf=" + shellquote(pdf.string()) +
            " --no-pdf-header-footer " + shellquote(page.string()) +
            " > /dev/null") != 0) {
    return {};
  }
  return pdf;
}

TEST(ReportPrinted, EachScenarioStartsAPageAndNothingRunsOffIt) {
  std::string missing;
  if (!tools(missing)) {
    std::cerr << "\n*** " << missing << " not installed: report.html was NOT "
                 "printed and checked (make deps installs them) ***\n\n";
    GTEST_SKIP() << missing << " not installed";
  }
  const ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  // 15 scenarios on a 3 by 3 grid, every third under a lower target (a
  // second design, interleaved with the first), and one on a 10 by 10 grid.
  Json base;
  std::string problem;
  ASSERT_TRUE(readjsonfile(sourcefile("examples/scenarios/demo.json").string(),
                           base, problem)) << problem;
  base["ntrial"] = 1;
  base["ncohort1"] = 4;
  base["ncohort2"] = 2;
  std::vector<std::string> names;
  std::vector<std::string> files;
  for (int i = 1; i <= 16; ++i) {
    Json j = base;
    std::string name = "scenario_" + std::string(i < 10 ? "0" : "") + std::to_string(i);
    if (i == 6) {
      ASSERT_TRUE(readjsonfile(sourcefile("examples/scenarios/grid10.json").string(),
                               j, problem)) << problem;
      j["ntrial"] = 1;
      j["ncohort1"] = 4;
      j["ncohort2"] = 2;
      name = "ten_by_ten_grid_with_a_long_name";
    } else {
      for (auto& row : j["scentox"]) {
        for (auto& p : row) p = std::min(0.9, p.get<double>() + 0.02 * i);
      }
      if (i % 3 == 0) j["targettox"] = 0.25;
    }
    names.push_back(name);
    files.push_back((dir.path() / (name + ".json")).string());
    std::ofstream(files.back()) << j.dump();
  }
  std::string command = "cd " + shellquote(dir.path().string()) + " && " +
                        shellquote(COMBOSIM_BATCH_EXE) +
                        " --seed 7 --out out > /dev/null";
  for (const std::string& f : files) command += " " + shellquote(f);
  ASSERT_EQ(shell(command), 0);
  const fs::path pdf = printpdf(dir.path() / "out/report.html", dir.path() / "report.pdf");
  ASSERT_FALSE(pdf.empty()) << "chromium could not print the report";

  int pages = 0;
  EXPECT_EQ(inkedmargins(pdf, dir.path(), 0.03, pages), "")
      << "pages with ink in the right margin";
  ASSERT_GT(pages, 16);

  // The pages that a scenario's heading starts, in order.
  std::map<std::string, int> start;
  std::vector<std::string> order;
  for (int p = 1; p <= pages; ++p) {
    const std::vector<std::string> lines = pagelines(pdf, p);
    ASSERT_FALSE(lines.empty()) << "page " << p << " is blank";
    if (std::find(names.begin(), names.end(), lines[0]) == names.end()) continue;
    const std::string& name = lines[0];
    EXPECT_EQ(start.count(name), 0u) << name << " starts two pages";
    start[name] = p;
    order.push_back(name);
    // The first map (its caption, then its axis), and what the scenario ran
    // under; lines wrapped as the page wraps them.
    std::string text;
    for (const std::string& line : lines) text += line + " ";
    const std::size_t map = text.find("Selection (% of trials)");
    EXPECT_NE(map, std::string::npos) << name << ": first map not on page " << p;
    EXPECT_NE(text.find("Drug 1 level", map), std::string::npos) << name;
    EXPECT_NE(text.find("Prior toxicity"), std::string::npos) << name;
    EXPECT_NE(text.find("Posterior: gibbs"), std::string::npos) << name;
    EXPECT_NE(text.find("Random numbers: std::mt19937_64, seed 7"), std::string::npos)
        << name;
  }
  EXPECT_EQ(start.size(), names.size()) << "scenarios without a page of their own";
  // Grouped: the first design's 11 scenarios of 3 by 3, then the lower
  // target's 4, then the 10 by 10 grid; each in the order of the run.
  std::vector<std::string> grouped;
  for (int pass = 0; pass < 3; ++pass) {
    for (int i = 1; i <= 16; ++i) {
      const int design = i == 6 ? 2 : i % 3 == 0 ? 1 : 0;
      if (design == pass) grouped.push_back(names[i - 1]);
    }
  }
  EXPECT_EQ(order, grouped);

  // Whatever would run off the page shows: a wide block at the report's end
  // puts ink in the margin of the last page.
  std::string page = readfile(dir.path() / "out/report.html");
  page.insert(page.rfind("</body>"),
              "<div style=\"width: 3000px; height: 40px; background: #000\"></div>");
  std::ofstream(dir.path() / "wide.html") << page;
  const fs::path wide = printpdf(dir.path() / "wide.html", dir.path() / "wide.pdf");
  ASSERT_FALSE(wide.empty());
  fs::create_directory(dir.path() / "wide");
  int widepages = 0;
  EXPECT_NE(inkedmargins(wide, dir.path() / "wide", 0.03, widepages), "");
}

}  // namespace
