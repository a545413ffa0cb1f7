#!/usr/bin/env bash
# Runs scripts/batch-parallel.sh through GNU parallel (SHARD_RUNNER=parallel)
# and checks the merged outputs against one combosim-batch process.
#
#   scripts/parallel-test.sh [BUILD_DIR]          (BUILD_DIR: build)
#
# Needs GNU parallel (Debian's parallel, which `make deps` installs; the
# moreutils program of the same name is refused); installs nothing itself.
#
# Exit status: 0 passed, 1 failed, 2 usage, no program to test or a
# 'parallel' that is not GNU parallel, 77 skipped loudly when no parallel is
# installed.
set -euo pipefail

usage="usage: $0 [BUILD_DIR]"
if [ $# -gt 1 ] || [ "${1:-}" = -h ] || [ "${1:-}" = --help ]; then
  echo "$usage" >&2
  exit 2
fi
repo=$(cd "$(dirname "$0")/.." && pwd)
batch=$(cd "${1:-$repo/build}" 2>/dev/null && pwd)/combosim-batch || true
if [ ! -x "$batch" ]; then
  echo "parallel-test: no combosim-batch in ${1:-$repo/build}; run make build" >&2
  exit 2
fi
if ! command -v parallel >/dev/null; then
  echo "parallel-test: SKIPPED: GNU parallel is not installed; run make deps as root" >&2
  exit 77
fi
version=$(parallel --version 2>&1 </dev/null) || true
if [[ $version != "GNU parallel "* ]]; then
  echo "parallel-test: 'parallel' is not GNU parallel (${version%%$'\n'*}); run make deps" >&2
  exit 2
fi
seed=2024
shards=4
scenarios=("$repo/tests/fixtures/golden_3x3.txt" "$repo/examples/none_acceptable.txt")

tmp=$(mktemp -d "${TMPDIR:-/tmp}/combosim-parallel.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
cd "$tmp"

"$batch" --seed "$seed" --shards "$shards" --out one "${scenarios[@]}" >/dev/null || {
  echo "parallel-test: the one-process run failed" >&2
  exit 1
}
# --will-cite (through PARALLEL, which GNU parallel reads for options) keeps
# builds that show a citation notice quiet.
COMBOSIM_BATCH=$batch SHARD_RUNNER=parallel JOBS=2 PARALLEL=--will-cite \
  "$repo/scripts/batch-parallel.sh" "$seed" "$shards" parallel "${scenarios[@]}" >/dev/null || {
  echo "parallel-test: scripts/batch-parallel.sh failed under GNU parallel" >&2
  exit 1
}
"$repo/scripts/compare-outputs.sh" one parallel || {
  echo "parallel-test: the merged outputs differ from the one-process run" >&2
  exit 1
}
echo "parallel-test: passed: ${version%%$'\n'*} ran $shards shards of ${#scenarios[@]} scenarios; the merge gives exactly what one combosim-batch process gives"
