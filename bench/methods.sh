#!/usr/bin/env bash
# Times the two posterior methods through combosim-batch on the benchmark
# scenarios, side by side: examples/scenarios/bench.json (4 by 4) and
# examples/scenarios/grid10.json (10 by 10), each as written (gibbs) and with
# "posterior": "quadrature". Prints the processor seconds per trial of each
# (the trials' own CPU time, from NAME.json) and the ratio gibbs/quadrature.
#
#   bench/methods.sh [BUILD_DIR]
#   TRIALS=N        trials of every run instead of the scenarios' own
#   QTRIALS=N       trials of the quadrature runs (default: as TRIALS)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build "$build" -j 2 --target combosim-batch > /dev/null

# A copy of scenario $1 as $2 with the method $3 and N trials ($4, or the
# scenario's own when empty).
variant() {
  local from=$1 to=$2 method=$3 trials=$4
  sed -e "1s/{/{\"posterior\": \"$method\",/" \
      -e "${trials:+s/\"ntrial\": [0-9]*/\"ntrial\": $trials/}" "$from" > "$to"
}

# The number after "KEY": in a result file.
field() { sed -n "s/^  \"$1\": \([0-9.e+-]*\),\{0,1\}$/\1/p" "$2"; }

echo "machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores"
printf '%-8s  %-10s  %6s  %12s\n' scenario method trials "CPU s/trial"
for name in bench grid10; do
  declare -A pertrial=()
  for method in gibbs quadrature; do
    trials=${TRIALS:-}
    [ "$method" = quadrature ] && trials=${QTRIALS:-$trials}
    mkdir -p "$work/$method"
    variant "$top/examples/scenarios/$name.json" "$work/$method/$name.json" "$method" "$trials"
    "$build/combosim-batch" --jobs 1 --out "$work/$method/out" "$work/$method/$name.json" > /dev/null
    result=$work/$method/out/$name.json
    n=$(field trials "$result")
    cpu=$(field cpuseconds "$result")
    pertrial[$method]=$(awk -v c="$cpu" -v n="$n" 'BEGIN { printf "%.4f", c / n }')
    printf '%-8s  %-10s  %6d  %12s\n' "$name" "$method" "$n" "${pertrial[$method]}"
  done
  awk -v g="${pertrial[gibbs]}" -v q="${pertrial[quadrature]}" -v s="$name" \
    'BEGIN { printf "%-8s  gibbs / quadrature: %.1f x\n", s, g / q }'
done
