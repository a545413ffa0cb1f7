#!/usr/bin/env bash
# r/check.sh: R CMD check on the package that r/assemble.sh assembled, then
# fails on any ERROR, WARNING or NOTE but two: the WARNING on the
# -ffp-contract=off flag, which keeps the arithmetic exact (R compiles with
# -std=gnu++20, under which GCC fuses multiply-adds wherever the processor
# has them), and the NOTE that the LinkingTo package BH has no include
# directory: Debian's r-cran-bh leaves Boost's headers where libboost-dev
# puts them, /usr/include, which the compiler searches anyway. The build
# makes the vignette, and the check checks it. No manual: that needs LaTeX. The library is installed without
# debug information, as `make r` installs it (R compiles with -g, and it
# would be nine tenths of the package's size), but with its symbols, which
# the check of the compiled code reads.
#   usage: r/check.sh BUILD_DIR
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: r/check.sh BUILD_DIR" >&2
  exit 2
fi
cd "$1/r"
version=$(sed -n 's/^Version: //p' combosim/DESCRIPTION)
rm -rf "combosim_$version.tar.gz" combosim.Rcheck
R CMD build combosim
R_STRIP_SHARED_LIB="strip --strip-debug" \
  R CMD check --no-manual --install-args=--strip "combosim_$version.tar.gz"

log=combosim.Rcheck/00check.log
expected="* checking compilation flags in Makevars ... WARNING"
bhnote="* checking DESCRIPTION meta-information ... NOTE"
bhtext="'LinkingTo' for 'BH' is unused as it has no 'include' directory"
problems=$(grep -E '\.\.\. *(ERROR|WARNING|NOTE)$' "$log" | grep -vxF "$expected" |
  grep -vxF "$bhnote" || true)
# The NOTE is accepted only when it says that alone (R quotes a package's
# name in curly quotes in a UTF-8 locale).
if grep -qxF "$bhnote" "$log"; then
  note=$(awk -v h="$bhnote" '$0 == h {on = 1; next} on && /^\*/ {exit} on {print}' "$log" |
    sed -e "s/\xe2\x80\x98/'/g" -e "s/\xe2\x80\x99/'/g")
  if [ "$note" != "$bhtext" ]; then
    problems="$problems
$bhnote
$note"
  fi
fi
# A problem whose word stands on a line of its own (as after the tests'
# output) still shows in the summary.
status=$(grep '^Status: ' "$log" || true)
case "$status" in
  "Status: 1 WARNING" | "Status: 1 WARNING, 1 NOTE") ;;
  *) problems="$problems
$status" ;;
esac
if [ -n "$problems" ]; then
  echo "r/check.sh: R CMD check found problems:" >&2
  echo "$problems" >&2
  exit 1
fi
grep -A2 -xF "$expected" "$log" | grep -qx '  -ffp-contract=off' || {
  echo "r/check.sh: the flags warning names more than -ffp-contract=off" >&2
  exit 1
}
echo "r/check.sh: clean but for the -ffp-contract=off warning and Debian's BH note"
