// tests/dialogue_random_test.cc: thousands of mutated answer files through
// the dialogue, each of which must keep the promises of
// fuzz/dialogue_check.h (a defined status, a closing message, bounded output,
// a usable scenario) and end within a few seconds. The mutations come from a
// fixed seed, so every run tries the same inputs; `make fuzz` searches
// further.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "fuzz/dialogue_check.h"

namespace {

namespace fs = std::filesystem;

constexpr int kCases = 3000;
constexpr std::uint64_t kSeed = 20261208;
// No case may take longer; a dialogue that waits for input it will never get
// would otherwise hang the test instead of failing it.
constexpr auto kCaseLimit = std::chrono::seconds(10);

// Answers that sit on a boundary of some check, or break the conversion.
const char* const kOddTokens[] = {
    "y",     "n",           "Y",           "yes",        "0",
    "1",     "-1",          "10",          "11",         "0.5",
    "1.01",  "-0.2",        "0.001",       "0.999",      "1e308",
    "1e999", "-1e999",      "1e-320",      "2147483647", "2147483648",
    "-2147483649",          "1000",        "1001",       "nan",
    "inf",   "0x1p3",       "abc",         "1.5.2",      "--1",
    "+3",    ".",           "e5",          "\t",         ""};

// The seed answer files: every answer file of the repository, sorted so the
// mutations are the same on every machine.
std::vector<std::string> seedfiles() {
  const fs::path root(COMBOSIM_SOURCE_DIR);
  std::vector<fs::path> paths;
  for (const char* dir : {"examples", "tests/fixtures", "fuzz/corpus"}) {
    for (const auto& entry : fs::directory_iterator(root / dir)) {
      const fs::path& p = entry.path();
      const std::string ext = p.extension().string();
      if (ext == ".txt" || (ext.empty() && std::string(dir) == "fuzz/corpus"))
        paths.push_back(p);
    }
  }
  std::sort(paths.begin(), paths.end());
  std::vector<std::string> texts;
  for (const fs::path& p : paths) {
    std::ifstream file(p, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    texts.push_back(text.str());
  }
  return texts;
}

std::vector<std::string> tokens(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

// Mutations of an answer file, drawn from a std::mt19937_64, whose sequence
// the C++ standard fixes (the library's distributions are not fixed, so
// none is used).
class Mutator {
 public:
  explicit Mutator(std::uint64_t seed) : rng_(seed) {}

  std::string mutate(const std::string& seed) {
    std::vector<std::string> words = tokens(seed);
    const int n = 1 + below(4);
    bool bytewise = false;
    for (int i = 0; i < n; ++i) {
      switch (below(8)) {
        case 0:  // replace an answer by an odd one
          if (!words.empty()) {
            const std::size_t k = below(words.size());
            words[k] = oddtoken();
          }
          break;
        case 1:  // drop an answer
          if (!words.empty()) words.erase(words.begin() + below(words.size()));
          break;
        case 2:  // repeat an answer
          if (!words.empty()) {
            const std::size_t k = below(words.size());
            words.insert(words.begin() + k, words[k]);
          }
          break;
        case 3:  // swap two answers
          if (words.size() > 1) {
            const std::size_t k = below(words.size());
            const std::size_t m = below(words.size());
            std::swap(words[k], words[m]);
          }
          break;
        case 4: {  // insert an odd answer
          const std::size_t k = below(words.size() + 1);
          words.insert(words.begin() + k, oddtoken());
          break;
        }
        case 5:  // pad an answer with up to 5000 leading zeros
          if (!words.empty()) {
            const std::size_t k = below(words.size());
            words[k].insert(0, 1 + below(5000), '0');
          }
          break;
        default:  // garble bytes once the answers are joined
          bytewise = true;
      }
    }
    std::string text;
    for (const std::string& w : words) text += w + (below(4) == 0 ? " " : "\n");
    if (bytewise && !text.empty()) {
      switch (below(3)) {
        case 0:  // cut the input short
          text.resize(below(text.size() + 1));
          break;
        case 1: {  // overwrite a byte with any byte, NUL included
          const std::size_t k = below(text.size());
          text[k] = static_cast<char>(below(256));
          break;
        }
        default:  // insert a few arbitrary bytes
          for (std::size_t n = 1 + below(8); n > 0; --n) {
            const std::size_t k = below(text.size() + 1);
            text.insert(text.begin() + k, static_cast<char>(below(256)));
          }
      }
    }
    return text;
  }

 private:
  // A number in 0..n-1, n > 0 (slightly biased; that does not matter here).
  // Callers draw one per statement, so the order of draws is fixed.
  std::size_t below(std::size_t n) { return rng_() % n; }
  std::string oddtoken() {
    return kOddTokens[below(sizeof kOddTokens / sizeof kOddTokens[0])];
  }

  std::mt19937_64 rng_;
};

// Ends the whole test program, naming the case, when one case runs longer than
// kCaseLimit. The inputs are fixed before the first case, so it can print
// the one that hangs.
class Watchdog {
 public:
  explicit Watchdog(const std::vector<std::string>& inputs)
      : inputs_(inputs), thread_([this] { watch(); }) {}
  ~Watchdog() {
    done_ = true;
    thread_.join();
  }
  void start(int k) { current_ = k; }

 private:
  void watch() {
    int seen = -1;
    auto since = std::chrono::steady_clock::now();
    while (!done_) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      const int now = current_;
      if (now != seen) {
        seen = now;
        since = std::chrono::steady_clock::now();
      } else if (std::chrono::steady_clock::now() - since > kCaseLimit) {
        std::fprintf(stderr, "dialogue case %d still running after %lld s:\n%s\n",
                     now, static_cast<long long>(kCaseLimit.count()),
                     inputs_[now].c_str());
        std::_Exit(1);
      }
    }
  }

  const std::vector<std::string>& inputs_;
  std::atomic<int> current_{-1};
  std::atomic<bool> done_{false};
  std::thread thread_;
};

TEST(DialogueRandom, MutatedAnswerFilesEndWithADefinedStatus) {
  const std::vector<std::string> seeds = seedfiles();
  ASSERT_GE(seeds.size(), 10u);
  Mutator mutator(kSeed);
  std::vector<std::string> inputs;
  for (int k = 0; k < kCases; ++k) {
    inputs.push_back(mutator.mutate(seeds[k % seeds.size()]));
  }

  std::map<int, int> statuses;
  int faults = 0;
  {
    Watchdog watchdog(inputs);
    for (int k = 0; k < kCases; ++k) {
      watchdog.start(k);
      SimulationSettings s;
      ScenarioInput scen;
      const dialoguecheck::Outcome o =
          dialoguecheck::rundialogue(inputs[k], s, scen);
      ++statuses[o.status];
      if (!o.fault.empty() && ++faults <= 5) {
        ADD_FAILURE() << "case " << k << ": " << o.fault << "\ninput:\n"
                      << inputs[k] << "\noutput tail:\n"
                      << o.out.substr(o.out.size() > 400 ? o.out.size() - 400 : 0);
      }
    }
  }
  EXPECT_EQ(faults, 0);
  // The mutations must reach every way out of the dialogue, or the test
  // would prove little.
  for (const int status : {kExitOk, kExitBadInput, kExitBadDoseCount}) {
    EXPECT_GE(statuses[status], kCases / 50)
        << "too few cases ended with status " << status;
  }
}

}  // namespace
