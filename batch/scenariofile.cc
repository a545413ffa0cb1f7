// batch/scenariofile.cc: answer files and JSON scenarios, read through the
// dialogue with its output captured instead of shown.
//
// The dialogue says what it thinks of an answer on the line where it asked
// for it, right after reading it: a value it rejects and reads again, or the
// message it ends on. The capture below keeps, for each piece of text the
// dialogue writes, how far the answers had been read at that moment, so a
// message can be traced back to the answer it is about: its line in an
// answer file, its field in a JSON file.
#include "batch/scenariofile.h"

#include <cctype>
#include <filesystem>
#include <ostream>
#include <sstream>
#include <streambuf>
#include <tuple>
#include <utility>

#include "formats/dialogue.h"

namespace {

// Output buffer for the dialogue: keeps the text and marks where text was
// written after the answers had moved on, that is, after a read.
class DialogueCapture : public std::streambuf {
 public:
  struct Advance {
    std::size_t outpos;   // where the first text written after a read starts
    std::streamoff from;  // how far the answers had been read before it
  };

  explicit DialogueCapture(std::streambuf& answers) : answers_(answers) {}

  const std::string& text() const { return text_; }
  const std::vector<Advance>& advances() const { return advances_; }
  const std::vector<std::size_t>& flushes() const { return flushes_; }
  std::streamoff lastread() const { return lastread_; }

 protected:
  // The dialogue flushes before every read, so a flush ends a prompt.
  int sync() override {
    flushes_.push_back(text_.size());
    return 0;
  }
  int_type overflow(int_type c) override {
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      const char ch = traits_type::to_char_type(c);
      put(&ch, 1);
    }
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    put(s, n);
    return n;
  }

 private:
  void put(const char* s, std::streamsize n) {
    const std::streamoff now =
        answers_.pubseekoff(0, std::ios_base::cur, std::ios_base::in);
    if (now != lastread_) {
      advances_.push_back({text_.size(), lastread_});
      lastread_ = now;
    }
    text_.append(s, static_cast<std::size_t>(n));
  }

  std::streambuf& answers_;
  std::string text_;
  std::vector<Advance> advances_;
  std::vector<std::size_t> flushes_;
  std::streamoff lastread_ = 0;
};

// One thing the dialogue said about an answer.
struct DialogueMessage {
  std::size_t at = 0;  // offset of the answer in the answers' text
  std::string text;    // the message, without a request to enter it again
};

struct DialogueOutcome {
  int status = 0;                        // readscenario's result
  std::vector<DialogueMessage> rereads;  // answers rejected and read again
  DialogueMessage failure;               // the message it ended on, if any
  std::size_t consumed = 0;              // the answers' text read
};

// Offset of the first non-blank character at or after `from`.
std::size_t answerstart(const std::string& answers, std::streamoff from) {
  std::size_t at = from < 0 ? 0 : static_cast<std::size_t>(from);
  while (at < answers.size() &&
         std::isspace(static_cast<unsigned char>(answers[at])) != 0) {
    ++at;
  }
  return at;
}

// "The toxicity probability is larger than 1, please reenter the correct
// toxicity prob:" becomes "The toxicity probability is larger than 1".
std::string withoutreentry(const std::string& message) {
  const std::size_t cut = message.find(", please reenter");
  return cut == std::string::npos ? message : message.substr(0, cut);
}

// Runs the dialogue on `answers` into `read`, and sorts what it said.
DialogueOutcome rundialogue(const std::string& answers, ScenarioRead& read) {
  std::istringstream in(answers);
  DialogueCapture capture(*in.rdbuf());
  std::ostream out(&capture);
  DialogueOutcome outcome;
  outcome.status = readscenario(in, out, read.scenario.settings, read.scenario.input);
  in.clear();
  const std::streamoff consumed = in.tellg();
  outcome.consumed = consumed < 0 ? answers.size() : static_cast<std::size_t>(consumed);

  // A line carries a message when text follows the line's last read. When a
  // prompt stands between that read and the message (the read that failed
  // took nothing), the message starts at the flush that ended the prompt.
  const std::string& text = capture.text();
  const auto& advances = capture.advances();
  const auto messagestart = [&capture](std::size_t from, std::size_t end) {
    for (std::size_t f : capture.flushes()) {
      if (f > from && f < end) from = f;
    }
    return from;
  };
  std::vector<DialogueMessage> messages;
  std::size_t next = 0;  // first advance not yet looked at
  std::size_t laststart = 0;
  bool lastismessage = false;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const DialogueCapture::Advance* last = nullptr;
    while (next < advances.size() && advances[next].outpos <= end) {
      last = &advances[next];
      ++next;
    }
    lastismessage = last != nullptr && last->outpos < end;
    if (lastismessage) {
      const std::size_t from = messagestart(last->outpos, end);
      messages.push_back({answerstart(answers, last->from),
                          text.substr(from, end - from)});
    }
    laststart = start;
    start = end + 1;
  }

  if (outcome.status != 0) {
    // The dialogue ends on its message. Without a read just before it (the
    // input ended, or a token did not convert at all), the message follows
    // the prompt of its line, and is about the answer after the last one
    // read.
    if (lastismessage) {
      outcome.failure = messages.back();
      messages.pop_back();
    } else {
      std::size_t end = text.find('\n', laststart);
      if (end == std::string::npos) end = text.size();
      const std::size_t from = messagestart(laststart, end);
      outcome.failure = {answerstart(answers, capture.lastread()),
                         text.substr(from, end - from)};
    }
  }
  for (DialogueMessage& m : messages) m.text = withoutreentry(m.text);
  outcome.rereads = std::move(messages);
  return outcome;
}

// "FILE:LINE: " for an answer at offset `at`, or "FILE: " past the end.
std::string answerplace(const std::string& answers, const std::string& source,
                        std::size_t at) {
  if (at >= answers.size()) return source + ": ";
  std::size_t line = 1;
  for (std::size_t i = 0; i < at; ++i) line += answers[i] == '\n' ? 1 : 0;
  return source + ":" + std::to_string(line) + ": ";
}

// --- The JSON form -------------------------------------------------------

// The optional objects of a JSON scenario.
constexpr char kRules[] = "rules";
constexpr char kPosterior[] = "posterior";

}  // namespace

bool isjsonscenario(const std::string& path) {
  return std::filesystem::path(path).extension() == ".json";
}

std::string scenarioname(const std::string& path) {
  return std::filesystem::path(path).stem().string();
}

ScenarioRead readanswers(const std::string& answers, const std::string& source) {
  ScenarioRead read;
  const DialogueOutcome outcome = rundialogue(answers, read);
  if (outcome.status != 0) {
    read.problem = answerplace(answers, source, outcome.failure.at) +
                   outcome.failure.text;
    if (!outcome.rereads.empty()) {
      const DialogueMessage& first = outcome.rereads.front();
      read.problem += " (after an answer rejected at " +
                      answerplace(answers, source, first.at) + first.text + ")";
    }
    return read;
  }
  // What the dialogue takes but the design cannot mean (a target of 0 or 1).
  const std::string problem = checkscenario(read.scenario);
  if (!problem.empty()) {
    read.problem = source + ": " + problem;
    return read;
  }
  for (const DialogueMessage& m : outcome.rereads) {
    read.notes.push_back(answerplace(answers, source, m.at) + m.text +
                         "; the next answer was read in its place");
  }
  // One word may follow, the key that closes combosim; anything after it is
  // an answer nobody asked for.
  std::size_t at = answerstart(answers, static_cast<std::streamoff>(outcome.consumed));
  while (at < answers.size() &&
         std::isspace(static_cast<unsigned char>(answers[at])) == 0) {
    ++at;
  }
  at = answerstart(answers, static_cast<std::streamoff>(at));
  if (at < answers.size()) {
    read.notes.push_back(answerplace(answers, source, at) +
                         "answers after the scenario's last answer and the "
                         "closing key are not read");
  }
  return read;
}

ScenarioRead readjsonscenario(const Json& j, const std::string& source) {
  ScenarioRead read;
  Scenario scenario;
  const std::string problem =
      scenariofromjson(j, scenario, read.rules, read.posterior);
  if (!problem.empty()) {
    read.problem = source + ": " + problem;
  } else {
    read.scenario = scenario;
  }
  return read;
}

Json scenariotojson(const Scenario& scenario, const DesignRules* rules,
                    const PosteriorChoice* posterior) {
  const SimulationSettings& s = scenario.settings;
  const ScenarioInput& input = scenario.input;
  Json j;
  j["ndose1"] = s.ndose1;
  j["ndose2"] = s.ndose2;
  Json tox = Json::array();
  Json eff = Json::array();
  for (int d1 = 0; d1 < s.ndose1; ++d1) {
    Json toxrow = Json::array();
    Json effrow = Json::array();
    for (int d2 = 0; d2 < s.ndose2; ++d2) {
      toxrow.push_back(input.scentox[d1][d2]);
      effrow.push_back(input.sceneff[d1][d2]);
    }
    tox.push_back(toxrow);
    eff.push_back(effrow);
  }
  j["scentox"] = tox;
  j["sceneff"] = eff;
  j["targettox"] = s.targettox;
  j["mineff"] = s.mineff;
  j["scenprior1"] = Json::array();
  for (int d1 = 0; d1 < s.ndose1; ++d1) j["scenprior1"].push_back(input.scenprior1[d1]);
  j["scenprior2"] = Json::array();
  for (int d2 = 0; d2 < s.ndose2; ++d2) j["scenprior2"].push_back(input.scenprior2[d2]);
  j["ncohort1"] = s.ncohort1;
  j["cohortsize1"] = s.cohortsize1;
  j["ncohort2"] = s.ncohort2;
  j["cohortsize2"] = s.cohortsize2;
  j["ntrial"] = s.ntrial;
  if (rules != nullptr) j[kRules] = rulestojson(*rules);
  if (posterior != nullptr && posterior->method != PosteriorMethod::kGibbs) {
    j[kPosterior] = posteriortojson(*posterior);
  }
  return j;
}

ScenarioRead readscenariofile(const std::string& path) {
  if (isjsonscenario(path)) {
    Json j;
    std::string problem;
    if (!readjsonfile(path, j, problem)) {
      ScenarioRead read;
      read.problem = problem;
      return read;
    }
    return readjsonscenario(j, path);
  }
  std::string text;
  std::string problem;
  if (!readwholefile(path, text, problem)) {
    ScenarioRead read;
    read.problem = problem;
    return read;
  }
  return readanswers(text, path);
}
