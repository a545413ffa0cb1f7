#!/usr/bin/env bash
# Runs scenarios split into N shards on one machine, several shard processes
# at a time, then merges the shards into the final outputs.
#
#   scripts/batch-parallel.sh SEED N OUTDIR SCENARIO...
#
# Shard k of every scenario is one run of
#   combosim-batch --jobs 1 --seed SEED --shard k/N --out OUTDIR/shards ...
# and the merge writes NAME.txt, NAME.json, summary.csv and manifest.json
# into OUTDIR, exactly what `combosim-batch --seed SEED --shards N` writes in
# one process. Only this run's shard files are merged: those of the
# scenarios given, which are removed before the shards run, so a file left in
# OUTDIR/shards by an earlier run is never reported as new.
#
# Environment:
#   JOBS            shard processes at once (default: the processors)
#   SHARD_RUNNER    parallel (GNU parallel) or xargs (xargs -P); default:
#                   GNU parallel when it is installed, xargs otherwise
#   COMBOSIM_BATCH  the program (default: build/combosim-batch under the
#                   current directory, else combosim-batch on the PATH)
#
# Exit status: 0 when every shard and the merge succeeded.
set -uo pipefail

if [ $# -lt 4 ]; then
  echo "usage: $0 SEED N OUTDIR SCENARIO..." >&2
  exit 2
fi
seed=$1
n=$2
out=$3
shift 3
case $n in
  '' | *[!0-9]* | 0) echo "$0: N must be a whole number from 1" >&2; exit 2 ;;
esac

batch=${COMBOSIM_BATCH:-}
if [ -z "$batch" ]; then
  if [ -x build/combosim-batch ]; then batch=build/combosim-batch; else batch=combosim-batch; fi
fi
jobs=${JOBS:-$(nproc 2>/dev/null || echo 1)}
runner=${SHARD_RUNNER:-}
if [ -z "$runner" ]; then
  if command -v parallel >/dev/null 2>&1; then runner=parallel; else runner=xargs; fi
fi
case $runner in
  parallel | xargs) ;;
  *) echo "$0: SHARD_RUNNER must be parallel or xargs" >&2; exit 2 ;;
esac

# The scenario names, as combosim-batch forms them: the file name without its
# extension; each once.
names=()
declare -A seen=()
for file in "$@"; do
  base=${file##*/}
  name=${base%.*}
  [ -n "$name" ] || name=$base
  if [ -z "${seen[$name]:-}" ]; then
    seen[$name]=1
    names+=("$name")
  fi
done

# The infix of shard k's file names: .shard-k-of-N, none for N = 1 (one part
# of one is the whole run, named as one).
infix() { if [ "$n" = 1 ]; then echo ""; else echo ".shard-$1-of-$n"; fi; }

mkdir -p "$out/shards" || exit 2
for k in $(seq 1 "$n"); do
  part=$(infix "$k")
  stale=("$out/shards/summary$part.csv" "$out/shards/manifest${part/#./-}.json")
  for name in "${names[@]}"; do
    stale+=("$out/shards/$name$part".{json,txt,trials.csv})
  done
  rm -f "${stale[@]}"
done

status=0
case $runner in
  parallel)
    # -q quotes the command, so file names with blanks stay whole.
    seq 1 "$n" | parallel -q -j "$jobs" \
      "$batch" --jobs 1 --seed "$seed" --shard "{}/$n" --out "$out/shards" "$@" \
      || status=1
    ;;
  xargs)
    seq 1 "$n" | xargs -P "$jobs" -I{} \
      "$batch" --jobs 1 --seed "$seed" --shard "{}/$n" --out "$out/shards" "$@" \
      || status=1
    ;;
esac

# This run's shard files, scenario by scenario. A scenario that could not be
# read fails in every shard and has none; the others merge.
shards=()
for name in "${names[@]}"; do
  for k in $(seq 1 "$n"); do
    file="$out/shards/$name$(infix "$k").json"
    if [ -f "$file" ]; then shards+=("$file"); fi
  done
done
if [ ${#shards[@]} -eq 0 ]; then
  echo "$0: no shard files of this run in $out/shards" >&2
  exit 1
fi
"$batch" merge --out "$out" "${shards[@]}" || status=1
exit $status
