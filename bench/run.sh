#!/usr/bin/env bash
# Times combosim on the benchmark scenario (examples/bench.txt: a 4 by 4 grid,
# 20 phase I cohorts of 3, 10 phase II cohorts of 3) and prints seconds per
# trial, then microseconds per posterior update.
#
#   bench/run.sh [BUILD_DIR]                 this checkout
#   BASELINE=<git ref> bench/run.sh [BUILD]  also the given commit, built with
#                                            the same flags and timed in
#                                            alternation with this checkout;
#                                            prints the ratio and checks that
#                                            both reports are identical.
#   TRIALS=N overrides the number of trials of the scenario.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
scenario=$top/examples/bench.txt
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build "$build" -j 2 --target combosim updates_bench > /dev/null

# The scenario, with the number of trials replaced when TRIALS is set.
if [ -n "${TRIALS:-}" ]; then
  awk -v n="$TRIALS" 'NR == 53 { print n; next } { print }' "$scenario" > "$work/scenario.txt"
else
  cp "$scenario" "$work/scenario.txt"
fi
trials=$(sed -n 53p "$work/scenario.txt")

# Arithmetic on the timings.
calc() { awk "BEGIN { printf \"%.6f\", $* }"; }

# Runs one combosim binary on the scenario in its own directory; prints the
# processor seconds (user + system) it used, which other work on the machine
# disturbs less than the elapsed time, and leaves its masked report in
# $2/report.
timeone() {
  local exe=$1 dir=$2
  rm -rf "$dir" && mkdir -p "$dir"
  local TIMEFORMAT='%U %S' used
  used=$( { time (cd "$dir" && "$exe" < "$work/scenario.txt" > out.txt) ; } 2>&1 )
  sed -e '/^-\{64\}$/{n;s/.*/<calendar time>/}' -e 's/CPU time (hour)= [^ ]*/CPU time (hour)= <cpu>/' \
    "$dir/results.txt" > "$dir/report"
  calc "${used% *} + ${used#* }"
}


baseexe=""
if [ -n "${BASELINE:-}" ]; then
  git -C "$top" worktree add --detach "$work/baseline-src" "$BASELINE" > /dev/null 2>&1
  cmake -S "$work/baseline-src" -B "$work/baseline-build" -DCMAKE_BUILD_TYPE=Release > /dev/null
  cmake --build "$work/baseline-build" -j 2 --target combosim > /dev/null
  baseexe=$work/baseline-build/combosim
fi

echo "machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores"
echo "scenario: examples/bench.txt, $trials trials"
now=$(timeone "$build/combosim" "$work/now")
printf 'this checkout:   %8.3f s per trial  (%.1f s in all)\n' "$(calc "$now / $trials")" "$now"
if [ -n "$baseexe" ]; then
  base=$(timeone "$baseexe" "$work/base")
  # A second pass of each, in the other order, evens out the machine's drift.
  base2=$(timeone "$baseexe" "$work/base")
  now2=$(timeone "$build/combosim" "$work/now")
  base=$(calc "($base + $base2) / 2")
  now=$(calc "($now + $now2) / 2")
  printf 'baseline %-7s %8.3f s per trial\n' "${BASELINE:0:7}:" "$(calc "$base / $trials")"
  printf 'this checkout:   %8.3f s per trial (mean of two runs)\n' "$(calc "$now / $trials")"
  printf 'speed-up:        %8.2f x\n' "$(calc "$base / $now")"
  if cmp -s "$work/now/report" "$work/base/report"; then
    echo "reports: identical (clock lines masked)"
  else
    echo "reports: DIFFERENT"; diff "$work/base/report" "$work/now/report" | head -20
    git -C "$top" worktree remove --force "$work/baseline-src" || true
    exit 1
  fi
  git -C "$top" worktree remove --force "$work/baseline-src" || true
fi
"$build/updates_bench" --benchmark_min_time=2
