#!/usr/bin/env bash
#SBATCH --job-name=combosim-shards
#SBATCH --cpus-per-task=1
#SBATCH --output=combosim-shards-%A_%a.log
# Shards of combosim-batch as a Slurm job array: array task k runs shard k of
# N of every scenario, where N is the size of the array. Submit from the top
# of the repository (or set COMBOSIM_BATCH to the program's path):
#
#   jobid=$(sbatch --parsable --array=1-N scripts/batch-slurm.sh SEED OUTDIR SCENARIO...)
#   sbatch --dependency=afterok:$jobid scripts/batch-slurm.sh --merge N OUTDIR SCENARIO...
#
# The array writes OUTDIR/shards/NAME.shard-k-of-N.{json,txt}; the merge job
# writes OUTDIR/NAME.txt, NAME.json, summary.csv and manifest.json, exactly
# what `combosim-batch --seed SEED --shards N` writes in one process. Task k
# first removes the shard-k files of its scenarios, and the merge takes only
# the shard files of the scenarios it is given, so a file left in
# OUTDIR/shards by an earlier run is never reported as new. The array must be
# 1-N (a task limit such as --array=1-N%10 is fine); each task runs its
# scenarios on the processors Slurm gives it (--cpus-per-task).
set -uo pipefail

batch=${COMBOSIM_BATCH:-}
if [ -z "$batch" ]; then
  if [ -x build/combosim-batch ]; then batch=build/combosim-batch; else batch=combosim-batch; fi
fi

# Sets `names` to the scenario names of the files given, as combosim-batch
# forms them (the file name without its extension), each once.
scenarionames() {
  names=()
  local -A seen=()
  local file base name
  for file in "$@"; do
    base=${file##*/}
    name=${base%.*}
    [ -n "$name" ] || name=$base
    if [ -z "${seen[$name]:-}" ]; then
      seen[$name]=1
      names+=("$name")
    fi
  done
}

# The infix of shard k of N's file names: .shard-k-of-N, none for N = 1 (one
# part of one is the whole run, named as one).
infix() { if [ "$2" = 1 ]; then echo ""; else echo ".shard-$1-of-$2"; fi; }

if [ "${1:-}" = --merge ]; then
  if [ $# -lt 4 ]; then
    echo "usage: $0 --merge N OUTDIR SCENARIO..." >&2
    exit 2
  fi
  n=$2
  out=$3
  shift 3
  scenarionames "$@"
  shards=()
  for name in "${names[@]}"; do
    for k in $(seq 1 "$n"); do
      file="$out/shards/$name$(infix "$k" "$n").json"
      if [ -f "$file" ]; then shards+=("$file"); fi
    done
  done
  if [ ${#shards[@]} -eq 0 ]; then
    echo "$0: no shard files of these scenarios in $out/shards" >&2
    exit 1
  fi
  exec "$batch" merge --out "$out" "${shards[@]}"
fi

if [ $# -lt 3 ]; then
  echo "usage: sbatch --array=1-N $0 SEED OUTDIR SCENARIO..." >&2
  exit 2
fi
task=${SLURM_ARRAY_TASK_ID:-}
n=${SLURM_ARRAY_TASK_COUNT:-}
if [ -z "$task" ] || [ -z "$n" ]; then
  echo "$0: not an array task; submit with sbatch --array=1-N" >&2
  exit 2
fi
if [ "${SLURM_ARRAY_TASK_MIN:-1}" != 1 ] || [ "${SLURM_ARRAY_TASK_MAX:-$n}" != "$n" ]; then
  echo "$0: the array must be 1-N, with N its size" >&2
  exit 2
fi
seed=$1
out=$2
shift 2
mkdir -p "$out/shards" || exit 2
scenarionames "$@"
part=$(infix "$task" "$n")
stale=("$out/shards/summary$part.csv" "$out/shards/manifest${part/#./-}.json")
for name in "${names[@]}"; do
  stale+=("$out/shards/$name$part".{json,txt,trials.csv})
done
rm -f "${stale[@]}"
exec "$batch" --seed "$seed" --shard "$task/$n" --out "$out/shards" "$@"
