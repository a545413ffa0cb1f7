#!/usr/bin/env bash
# Compares the outputs of a sharded batch run with those of one
# `combosim-batch --seed S --shards N` process: the same files, every NAME.txt
# the same but for its date and processor time, every NAME.json the same but
# for cpuseconds, and summary.csv identical.
#
#   scripts/compare-outputs.sh EXPECTED_DIR ACTUAL_DIR
#
# Exit status: 0 when they match, 1 when they differ (the differences are
# printed), 2 on bad arguments or an EXPECTED_DIR without results.
set -euo pipefail

if [ $# -ne 2 ] || [ ! -d "$1" ] || [ ! -d "$2" ]; then
  echo "usage: $0 EXPECTED_DIR ACTUAL_DIR" >&2
  exit 2
fi
expected=$1
actual=$2
if [ ! -f "$expected/summary.csv" ] || ! compgen -G "$expected/*.json" >/dev/null; then
  echo "$0: $expected holds no results to compare with" >&2
  exit 2
fi

# The plain files of a folder (its shards/ folder left out).
files() { find "$1" -maxdepth 1 -type f -printf '%f\n' | sort; }
# A report without the calendar line (after the rule of 64 dashes) and the
# processor time, the two things that differ between runs.
report() {
  sed -E -e '/^-{64}$/{n;s/.*/<date>/;}' \
    -e 's/CPU time \(hour\)= [^ ]+/CPU time (hour)= <cpu>/' "$1"
}
# A result file without its processor seconds (one line at the top level).
result() { grep -v '^  "cpuseconds": ' "$1"; }

status=0
if ! diff <(files "$expected") <(files "$actual"); then
  echo "$0: $actual does not hold the same files as $expected" >&2
  status=1
fi
while read -r name; do
  [ -f "$actual/$name" ] || continue
  case $name in
    *.txt) same=$(diff <(report "$expected/$name") <(report "$actual/$name")) ;;
    *.json) same=$(diff <(result "$expected/$name") <(result "$actual/$name")) ;;
    *) same=$(diff "$expected/$name" "$actual/$name") ;;
  esac || {
    printf '%s: %s differs:\n%s\n' "$0" "$actual/$name" "$same" >&2
    status=1
  }
done < <(files "$expected")
exit "$status"
