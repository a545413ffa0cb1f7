#!/usr/bin/env bash
# A long run of one scenario, checked as the short extreme-scenario tests
# check theirs; not part of CI.
#
#   scripts/soak.sh [TRIALS] [ANSWERS]
#
# TRIALS (default 300) replaces the number of trials of the answer file
# ANSWERS (default examples/bench.txt), whose last three answers must be the
# number of trials, its "y" and the closing word. The benchmark scenario takes
# about 1.3 s per trial. The run is repeated once (set SOAK_RUNS=1 to skip the
# repeat) and both runs must agree to the last digit, clock lines aside.
# COMBOSIM names the program (default build/combosim; `make build` makes it).
#
# Checks: exit status 0; a progress line for every trial; no "nan" or "inf"
# anywhere in the output; selection percentages plus the inconclusive
# percentage equal 100 within the rounding of the printed figures;
# toxicities and responses never above patients in any cell; patients per
# trial within what the cohorts allow; the file copy of the report equal to
# the console copy but for the trial-count label.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
trials="${1:-300}"
answers="$(realpath -m "${2:-$root/examples/bench.txt}")"
exe="$(realpath -m "${COMBOSIM:-$root/build/combosim}")"
runs="${SOAK_RUNS:-2}"

[[ "$trials" =~ ^[1-9][0-9]*$ ]] || { echo "soak: TRIALS must be a positive integer" >&2; exit 2; }
[[ -x "$exe" ]] || { echo "soak: $exe not found; run make build first" >&2; exit 2; }
[[ -r "$answers" ]] || { echo "soak: cannot read $answers" >&2; exit 2; }

work="$(mktemp -d "${TMPDIR:-/tmp}/combosim-soak-XXXXXX")"
trap 'rm -rf "$work"' EXIT

head -n -3 "$answers" > "$work/answers.txt"
printf '%s\ny\nx\n' "$trials" >> "$work/answers.txt"

failures=0
fail() { echo "soak: FAIL: $*"; failures=$((failures + 1)); }

# The report's clock lines (calendar time after the dash rule, processor
# time) masked, as in the tests.
maskclock() {
  sed -E -e '/^-{64}$/{n;s/.*/<calendar time>/}' \
         -e 's/CPU time \(hour\)= [^ ]+/CPU time (hour)= <cpu hours>/'
}

# Checks one report copy (console or file) on stdin; prints the figures.
checkreport() {
  awk -v ntrial="$trials" '
    /^Phase I cohort size = /  { cs1 = $6; nc1 = $13 }
    /^Phase II cohort size = / { cs2 = $6; nc2 = $13 }
    /^Number of patients treated at each dose: / { table = "pat"; row = 0; next }
    /^Number of toxicity observed at each dose: / { table = "tox"; row = 0; next }
    /^Number of response observed at each dose: / { table = "resp"; row = 0; next }
    /^Selection probabilities \(%\): / { table = "sel"; row = 0; next }
    /^Percentage of inconclusive trials: / {
      v = $5; sub(/%$/, "", v); inconclusive = v + 0; seen = 1; table = ""; next
    }
    /^$/ { table = ""; next }
    table != "" {
      for (c = 1; c <= NF; ++c) cell[table, row, c] = $c + 0
      ncol = NF; nrow[table] = ++row
    }
    END {
      bad = 0
      if (!seen) { print "no inconclusive line"; exit 1 }
      if (nrow["pat"] != nrow["tox"] || nrow["pat"] != nrow["resp"] ||
          nrow["pat"] != nrow["sel"] || nrow["pat"] == 0) {
        print "tables of different sizes"; exit 1
      }
      total = inconclusive; patients = 0; cells = 0
      for (r = 0; r < nrow["pat"]; ++r) for (c = 1; c <= ncol; ++c) {
        ++cells
        total += cell["sel", r, c]; patients += cell["pat", r, c]
        if (cell["tox", r, c] > cell["pat", r, c]) {
          printf "row %d column %d: %.2f toxicities for %.2f patients\n", r, c, cell["tox", r, c], cell["pat", r, c]; bad = 1
        }
        if (cell["resp", r, c] > cell["pat", r, c]) {
          printf "row %d column %d: %.2f responses for %.2f patients\n", r, c, cell["resp", r, c], cell["pat", r, c]; bad = 1
        }
      }
      # Every printed figure is rounded to 0.005 at most.
      tolerance = 0.005 * (cells + 1) + 1e-9
      if (total != total || total - 100 > tolerance || 100 - total > tolerance) {
        printf "selections plus inconclusive = %.4f, not 100\n", total; bad = 1
      }
      most = nc1 * cs1 + nc2 * cs2
      if (patients > most + 0.005 * cells + 1e-9) {
        printf "%.2f patients per trial, more than the %d the cohorts allow\n", patients, most; bad = 1
      }
      printf "    patients per trial %.2f (at most %d), selections + inconclusive = %.2f%%, inconclusive %.2f%%\n", patients, most, total, inconclusive
      exit bad
    }'
}

echo "soak: $trials trials of $answers with $exe, $runs run(s)"
for run in $(seq 1 "$runs"); do
  dir="$work/run$run"
  mkdir "$dir"
  start=$(date +%s)
  set +e
  (cd "$dir" && "$exe" < "$work/answers.txt" > "$dir/out.txt" 2> "$dir/err.txt")
  status=$?
  set -e
  seconds=$(( $(date +%s) - start ))
  out="$dir/out.txt"
  echo "run $run: exit status $status, ${seconds} s wall, $(awk -v s="$seconds" -v n="$trials" 'BEGIN { printf "%.2f", s / n }') s per trial"
  [[ $status -eq 0 ]] || fail "run $run ended with status $status: $(tail -n 3 "$out" "$dir/err.txt")"
  progress=$(grep -c '^Simulating the trial [0-9]*\.\.\.\.\.\.$' "$out" || true)
  [[ $progress -eq $trials ]] || fail "run $run printed $progress progress lines, not $trials"
  if grep -qi -E 'nan|inf' "$out" "$dir/results.txt" 2>/dev/null; then
    fail "run $run: nan or inf in the output: $(grep -i -m 3 -E 'nan|inf' "$out" "$dir/results.txt")"
  fi
  [[ -s "$dir/err.txt" ]] && fail "run $run wrote to standard error: $(head -n 3 "$dir/err.txt")"
  grep -m 1 '^CPU time (hour)= ' "$out" | sed 's/^/    /'
  echo "  console copy:"
  checkreport < "$out" || fail "run $run: console copy"
  if [[ -f "$dir/results.txt" ]]; then
    # The file copy is the console copy but for the trial-count label.
    sed 's/    the number of trials = / ;   the number of trials = /' "$dir/results.txt" > "$dir/file-as-console.txt"
    report_start=$(grep -n -m 1 '^----------------------------------------------------------------$' "$out" | cut -d: -f1)
    tail -n +$((report_start - 2)) "$out" | head -n "$(wc -l < "$dir/file-as-console.txt")" > "$dir/console-report.txt"
    cmp -s "$dir/file-as-console.txt" "$dir/console-report.txt" || fail "run $run: file copy differs from the console copy"
  else
    fail "run $run wrote no results.txt"
  fi
  maskclock < "$out" > "$dir/masked.txt"
  if [[ $run -gt 1 ]]; then
    cmp -s "$work/run1/masked.txt" "$dir/masked.txt" || fail "run $run differs from run 1: $(diff "$work/run1/masked.txt" "$dir/masked.txt" | head -n 5)"
  fi
done

echo "  selection probabilities (%), run 1:"
sed -n '/^Selection probabilities (%): $/,/^Percentage of inconclusive/p' "$work/run1/out.txt" | sed 's/^/    /'
if [[ $failures -eq 0 ]]; then
  echo "soak: OK"
else
  echo "soak: $failures failure(s)"
  exit 1
fi
