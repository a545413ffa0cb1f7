#!/usr/bin/env bash
#SBATCH --job-name=combosim-shards
#SBATCH --cpus-per-task=1
#SBATCH --output=combosim-shards-%A_%a.log
# Shards of combosim-batch as a Slurm job array: array task k runs shard k of
# N of every scenario, where N is the size of the array. Submit from the top
# of the repository (or set COMBOSIM_BATCH to the program's path):
#
#   jobid=$(sbatch --parsable --array=1-N scripts/batch-slurm.sh SEED OUTDIR SCENARIO...)
#   sbatch --dependency=afterok:$jobid scripts/batch-slurm.sh --merge N OUTDIR
#
# The array writes OUTDIR/shards/NAME.shard-k-of-N.{json,txt}; the merge job
# writes OUTDIR/NAME.txt, NAME.json and summary.csv, exactly what
# `combosim-batch --seed SEED --shards N` writes in one process. The array
# must be 1-N (a task limit such as --array=1-N%10 is fine); each task runs
# its scenarios on the processors Slurm gives it (--cpus-per-task).
set -uo pipefail

batch=${COMBOSIM_BATCH:-}
if [ -z "$batch" ]; then
  if [ -x build/combosim-batch ]; then batch=build/combosim-batch; else batch=combosim-batch; fi
fi

if [ "${1:-}" = --merge ]; then
  if [ $# -ne 3 ]; then
    echo "usage: $0 --merge N OUTDIR" >&2
    exit 2
  fi
  n=$2
  out=$3
  shopt -s nullglob
  shards=("$out"/shards/*.shard-*-of-"$n".json)
  if [ ${#shards[@]} -eq 0 ]; then
    echo "$0: no shard files in $out/shards" >&2
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
exec "$batch" --seed "$seed" --shard "$task/$n" --out "$out/shards" "$@"
