// formats/studyreport.h: the visual report of a study, one self-contained
// HTML page (inline SVG and CSS, no script, nothing fetched) that opens from
// disk.
//
// Per scenario, first every figure of every design side by side with its
// standard error, then each design's difference from the reference, figure
// by figure, as a point with a bar of +/- 2 standard errors of the
// difference (paired, or unpaired for a study without paired streams) on a
// scale of its own per figure, centred on 0.
//
// Marked up for checks: each figure of the table is
//   <td data-scenario="a" data-design="A" data-key="correct"
//       data-value="53.2" data-mcse="1.6">
// and each difference
//   <g class="difference" data-scenario="a" data-design="strict"
//      data-figure="correct" data-difference="-1.5" data-se="0.7">
// the numbers as the CSV files write them (shortest text; "" when not a
// number).
#ifndef COMBOSIM_FORMATS_STUDYREPORT_H_
#define COMBOSIM_FORMATS_STUDYREPORT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "engine/compare.h"

struct StudyPageScenario {
  std::string name;
  std::int64_t ntrial = 0;
  // Per design, in the designs' order: differences() against the reference.
  std::vector<std::vector<FigureDifference>> designs;
};

struct StudyPage {
  std::string study;                 // the study file
  std::vector<std::string> designs;  // names, in order
  std::size_t reference = 0;         // among `designs`
  bool paired = true;                // bars from the paired SEs
  std::string random;                // the generators and seed, in words
  std::string version;               // the program version that ran it
  std::vector<StudyPageScenario> scenarios;
};

// The page of `page`.
std::string studyreport(const StudyPage& page);

#endif  // COMBOSIM_FORMATS_STUDYREPORT_H_
