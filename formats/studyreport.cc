// formats/studyreport.cc: the self-contained HTML report of a study.
#include "formats/studyreport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "formats/htmlreport.h"
#include "formats/jsonfile.h"

namespace {

// Geometry of a figure's differences, in pixels.
constexpr int kLabelW = 150;  // the designs' names
constexpr int kPlotW = 420;   // the scale
constexpr int kTextW = 170;   // the difference and its SE in words
constexpr int kRowH = 22;
constexpr int kAxisH = 18;

// `v` as the CSV files write it: the shortest text, "" when not a number.
std::string csvnumber(double v) { return std::isfinite(v) ? numbertext(v) : ""; }

// `v` with `decimals` decimals, or an en dash when it is not a number.
std::string fixed(double v, int decimals) {
  if (!std::isfinite(v)) return "\u2013";
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, v);
  return buffer;
}

// Means per trial get two decimals, percentages one.
int decimalsof(const std::string& figure) {
  return figure == "patients_mean" || figure == "toxicities_mean" ||
                 figure == "responses_mean"
             ? 2
             : 1;
}

constexpr char kStyle[] = R"(
body { font-family: "DejaVu Sans", "Liberation Sans", Arial, sans-serif;
  color: #1a1a1a; background: #ffffff; margin: 24px; line-height: 1.4; }
h1 { font-size: 24px; margin: 0 0 4px; }
h2 { font-size: 19px; margin: 28px 0 4px; border-bottom: 1px solid #cccccc; }
h3 { font-size: 15px; margin: 14px 0 4px; }
table { border-collapse: collapse; font-size: 14px; margin: 8px 0; }
th, td { border: 1px solid #cccccc; padding: 4px 8px; }
thead th { background: #eef3f8; }
td.figure { text-align: right; white-space: nowrap; }
td.reference, th.reference { background: #f4f4f4; }
.se { color: #555555; font-size: 12px; }
svg text { font-family: "DejaVu Sans", "Liberation Sans", Arial, sans-serif;
  font-size: 12px; fill: #1a1a1a; }
svg text.end { text-anchor: end; }
svg text.middle { text-anchor: middle; fill: #555555; }
.figures { display: flex; flex-wrap: wrap; gap: 4px 28px; }
figure { margin: 4px 0; }
figcaption { font-weight: bold; font-size: 13px; }
)";

void writetable(std::ostream& os, const StudyPage& page,
                const StudyPageScenario& s) {
  os << "<table class=\"designs\">\n<thead><tr><th>figure</th>";
  for (std::size_t d = 0; d < page.designs.size(); ++d) {
    os << "<th" << (d == page.reference ? " class=\"reference\"" : "") << ">"
       << htmlescape(page.designs[d]) << (d == page.reference ? " (reference)" : "")
       << "</th>";
  }
  os << "</tr></thead>\n<tbody>\n";
  const std::size_t nfigure = s.designs.empty() ? 0 : s.designs.front().size();
  for (std::size_t f = 0; f < nfigure; ++f) {
    const std::string& figure = s.designs.front()[f].figure;
    os << "<tr><th>" << htmlescape(figure) << "</th>";
    for (std::size_t d = 0; d < s.designs.size(); ++d) {
      const Estimate& e = s.designs[d][f].design;
      const int decimals = decimalsof(figure);
      os << "<td class=\"figure" << (d == page.reference ? " reference" : "")
         << "\" data-scenario=\"" << htmlescape(s.name) << "\" data-design=\""
         << htmlescape(page.designs[d]) << "\" data-key=\"" << htmlescape(figure)
         << "\" data-value=\"" << csvnumber(e.value) << "\" data-mcse=\""
         << csvnumber(e.mcse) << "\">" << fixed(e.value, decimals)
         << " <span class=\"se\">&plusmn; " << fixed(e.mcse, decimals)
         << "</span></td>";
    }
    os << "</tr>\n";
  }
  os << "</tbody>\n</table>\n";
}

// One figure's differences of every design but the reference.
void writefigure(std::ostream& os, const StudyPage& page,
                 const StudyPageScenario& s, std::size_t f) {
  const std::string& figure = s.designs.front()[f].figure;
  const int decimals = decimalsof(figure);
  // The scale: symmetric about 0, wide enough for every bar.
  double reach = 0;
  for (std::size_t d = 0; d < s.designs.size(); ++d) {
    if (d == page.reference) continue;
    const FigureDifference& x = s.designs[d][f];
    const double se = page.paired ? x.mcse : x.unpairedmcse;
    if (std::isfinite(x.difference)) {
      reach = std::max(reach, std::fabs(x.difference) + (std::isfinite(se) ? 2 * se : 0));
    }
  }
  if (!(reach > 0)) reach = 1;
  const auto xof = [reach](double v) {
    return kLabelW + kPlotW / 2.0 + v / reach * (kPlotW / 2.0 - 6);
  };
  const int rows = static_cast<int>(s.designs.size()) - 1;
  const int height = rows * kRowH + kAxisH;
  const int width = kLabelW + kPlotW + kTextW;
  os << "<figure><figcaption>" << htmlescape(figure) << "</figcaption>"
     << "<svg width=\"" << width << "\" height=\"" << height
     << "\" viewBox=\"0 0 " << width << " " << height
     << "\" role=\"img\"><title>" << htmlescape(figure) << ": difference from "
     << htmlescape(page.designs[page.reference]) << ", &plusmn; 2 SE</title>"
     << "<line x1=\"" << xof(0) << "\" y1=\"0\" x2=\"" << xof(0) << "\" y2=\""
     << rows * kRowH << "\" stroke=\"#888888\"/>"
     << "<text class=\"middle\" x=\"" << xof(-reach) << "\" y=\"" << height - 4
     << "\">" << fixed(-reach, decimals) << "</text>"
     << "<text class=\"middle\" x=\"" << xof(0) << "\" y=\"" << height - 4
     << "\">0</text>"
     << "<text class=\"middle\" x=\"" << xof(reach) << "\" y=\"" << height - 4
     << "\">" << fixed(reach, decimals) << "</text>";
  int row = 0;
  for (std::size_t d = 0; d < s.designs.size(); ++d) {
    if (d == page.reference) continue;
    const FigureDifference& x = s.designs[d][f];
    const double se = page.paired ? x.mcse : x.unpairedmcse;
    const double y = row * kRowH + kRowH / 2.0;
    os << "<g class=\"difference\" data-scenario=\"" << htmlescape(s.name)
       << "\" data-design=\"" << htmlescape(page.designs[d]) << "\" data-figure=\""
       << htmlescape(figure) << "\" data-difference=\"" << csvnumber(x.difference)
       << "\" data-se=\"" << csvnumber(se) << "\"><title>"
       << htmlescape(page.designs[d]) << " - " << htmlescape(page.designs[page.reference])
       << ": " << csvnumber(x.difference) << ", SE " << csvnumber(se) << "</title>"
       << "<text class=\"end\" x=\"" << kLabelW - 8 << "\" y=\"" << y + 4 << "\">"
       << htmlescape(page.designs[d]) << "</text>";
    if (std::isfinite(x.difference)) {
      if (std::isfinite(se)) {
        os << "<line x1=\"" << xof(x.difference - 2 * se) << "\" y1=\"" << y
           << "\" x2=\"" << xof(x.difference + 2 * se) << "\" y2=\"" << y
           << "\" stroke=\"#2171b5\" stroke-width=\"3\"/>";
      }
      os << "<circle cx=\"" << xof(x.difference) << "\" cy=\"" << y
         << "\" r=\"5\" fill=\"#08306b\"/>";
    }
    os << "<text x=\"" << kLabelW + kPlotW + 8 << "\" y=\"" << y + 4 << "\">"
       << fixed(x.difference, decimals) << " &plusmn; " << fixed(2 * se, decimals)
       << "</text></g>";
    ++row;
  }
  os << "</svg></figure>\n";
}

}  // namespace

std::string studyreport(const StudyPage& page) {
  std::ostringstream os;
  os << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
     << "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
     << "<title>combosim: study " << htmlescape(page.study) << "</title>\n<style>"
     << kStyle << "</style>\n</head>\n<body>\n<h1>Designs compared</h1>\n";
  os << "<p>Study " << htmlescape(page.study) << ": " << page.designs.size()
     << (page.designs.size() == 1 ? " design" : " designs") << " on "
     << page.scenarios.size()
     << (page.scenarios.size() == 1 ? " scenario" : " scenarios")
     << ", each against the reference <strong>"
     << htmlescape(page.designs[page.reference]) << "</strong>; "
     << htmlescape(page.random) << "; combosim " << htmlescape(page.version)
     << ". Percentages are of trials unless said otherwise; &plusmn; in the "
        "tables is one Monte Carlo standard error. The differences are the "
        "design's figure minus the reference's, with bars of &plusmn; 2 "
     << (page.paired ? "paired standard errors, from the trial-by-trial "
                       "differences on the same simulated patients"
                     : "standard errors of independent runs (the study is "
                       "not paired)")
     << ".</p>\n";
  for (const StudyPageScenario& s : page.scenarios) {
    os << "<h2>" << htmlescape(s.name) << "</h2>\n<p>" << s.ntrial
       << (s.ntrial == 1 ? " trial" : " trials") << " per design.</p>\n";
    writetable(os, page, s);
    if (page.designs.size() > 1 && !s.designs.empty()) {
      os << "<h3>Differences from " << htmlescape(page.designs[page.reference])
         << " (&plusmn; 2 SE)</h3>\n<div class=\"figures\">\n";
      for (std::size_t f = 0; f < s.designs.front().size(); ++f) {
        writefigure(os, page, s, f);
      }
      os << "</div>\n";
    }
  }
  os << "</body>\n</html>\n";
  return os.str();
}
