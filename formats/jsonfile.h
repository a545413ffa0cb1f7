// formats/jsonfile.h: JSON input files as the front ends read them: whole
// files, parsed with every key of an object given once, and the fields that
// scenario and design files share (whole numbers, lists of numbers, the
// design's rules), each problem one line naming the field.
#ifndef COMBOSIM_FORMATS_JSONFILE_H_
#define COMBOSIM_FORMATS_JSONFILE_H_

#include <functional>
#include <string>

#include <nlohmann/json.hpp>

#include "design/design.h"
#include "design/rules.h"
#include "engine/conductwords.h"
#include "records/trialstate.h"

// JSON values keep their fields in the order written, in files read and
// written alike.
using Json = nlohmann::ordered_json;

// The shortest decimal text of `v` that reads back to the same double.
std::string numbertext(double v);

// The text of `j` as the programs write it: indented by 2, ending in a line
// break. Bytes of a string that are not valid UTF-8 become U+FFFD.
std::string jsontext(const Json& j);

// Sets j[key] to `path`, a file name as given, and j[key + "_bytes_replaced"]
// to true when the path is not valid UTF-8, so that its text in the file
// (bytes replaced by jsontext) names no file on disk.
void putpath(Json& j, const std::string& key, const std::string& path);

// Reads the file at `path` whole into `text`. Returns false, with a
// one-line problem naming the file, when it cannot be read.
bool readwholefile(const std::string& path, std::string& text,
                   std::string& problem);

// Parses `text` into `j`. Returns false, with a one-line problem that starts
// with `source` and says where the syntax fails, which value is a number too
// large for a double ("SOURCE: scentox[2][1]: ...", positions counted from
// 1), or which key an object holds twice.
bool parsejson(const std::string& text, const std::string& source, Json& j,
               std::string& problem);

// Reads and parses the JSON file at `path`, as parsejson with the path as
// the source.
bool readjsonfile(const std::string& path, Json& j, std::string& problem);

// Reads a whole number that fits an int into `n`; false otherwise.
bool wholenumber(const Json& v, int& n);

// Why wholenumber refused `v`: "is out of range" or "must be a whole number".
std::string wholenumberproblem(const Json& v);

// Reads an array of `n` numbers into `to`; with `probability`, a number below
// 0 is refused. Returns "" or the problem, "FIELD: TEXT" or "ELEMENT: TEXT",
// where `element(i)` names element i, by default "FIELD[i+1]" (positions
// counted from 1).
std::string numberlist(
    const Json& v, const std::string& field, int n, bool probability,
    double* to, const std::function<std::string(int)>& element = nullptr);

// Reads the "rules" object into `rules`, defaults kept for fields it omits,
// and checks them (checkrules, the start on the ndose1 by ndose2 grid).
// "minpatients" sets both minimum-patient counts; "minpatients_stop" and
// "minpatients_close" override it. Returns "" or the problem,
// "rules.FIELD: TEXT".
std::string rulesfromjson(const Json& j, DesignRules& rules,
                          int ndose1 = kMaxDose, int ndose2 = kMaxDose);

// The rules as the "rules" object: every threshold, "minpatients" holding
// minpatients_close, and each option ("minpatients_stop", "phase2",
// "start") only when it is not at its default.
Json rulestojson(const DesignRules& rules);

// How a design computes its posteriors: the method and, for quadrature, its
// nodes and draws per randomisation.
struct PosteriorChoice {
  PosteriorMethod method = PosteriorMethod::kGibbs;
  QuadratureSettings quadrature;  // read only under quadrature
  bool operator==(const PosteriorChoice& other) const;
};

// Reads the "posterior" field into `choice`: the method's name, or an object
// {"method": NAME, "nodes": {"toxicity": [A, B, G], "response": [A, B]},
// "draws": M} whose fields but "method" are optional and taken only by
// quadrature. Returns "" or the problem, "posterior: TEXT" or
// "posterior.FIELD: TEXT".
std::string posteriorfromjson(const Json& v, PosteriorChoice& choice);

// The choice as the "posterior" field: for quadrature the object with every
// field; for gibbs, the name.
Json posteriortojson(const PosteriorChoice& choice);

// The design's choice, and the design with `choice`.
PosteriorChoice posteriorof(const Design& design);
void setposterior(Design& design, const PosteriorChoice& choice);

// The version of the Boost headers behind the quadrature method, "1.74.0".
std::string boostversion();

#endif  // COMBOSIM_FORMATS_JSONFILE_H_
