#!/usr/bin/env bash
# r/assemble.sh: assembles the R package combosim from r/combosim and the
# engine's own sources (the layers below the front ends), then installs it.
#   usage: r/assemble.sh BUILD_DIR [JOBS]
# Leaves the package folder in BUILD_DIR/r/combosim and installs it into
# BUILD_DIR/rlib. Files are copied only when they changed, so the package's
# objects from an earlier run are reused unless a header changed.
set -euo pipefail

if [ $# -lt 1 ]; then
  echo "usage: r/assemble.sh BUILD_DIR [JOBS]" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1"
build=$(cd "$1" && pwd)
jobs=${2:-2}
pkg=$build/r/combosim
# The engine's layers, from the bottom; nothing above them prints or exits.
layers="numerics records design engine"

for tool in R Rscript; do
  command -v "$tool" >/dev/null || {
    echo "r/assemble.sh: $tool not found; make deps installs R" >&2
    exit 1
  }
done

# Copies $1 to $2 unless $2 already holds the same bytes; notes a header that
# changed, since R's make does not know which objects include it.
headerchanged=no
update() {
  mkdir -p "$(dirname "$2")"
  if ! cmp -s "$1" "$2"; then
    cp -p "$1" "$2"
    case "$2" in *.h) headerchanged=yes ;; esac
  fi
}

# The package's own files: everything but src/ is copied afresh.
mkdir -p "$pkg"
for entry in R man tests vignettes; do
  rm -rf "${pkg:?}/$entry"
  cp -pR "$root/r/combosim/$entry" "$pkg/$entry"
done
update "$root/r/combosim/NAMESPACE" "$pkg/NAMESPACE"
update "$root/r/combosim/LICENSE" "$pkg/LICENSE"
update "$root/r/combosim/.Rbuildignore" "$pkg/.Rbuildignore"
version=$(sed -n 's/^project(combosim VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
[ -n "$version" ] || { echo "r/assemble.sh: no version in CMakeLists.txt" >&2; exit 1; }
sed "s/@VERSION@/$version/" "$root/r/combosim/DESCRIPTION" > "$pkg/DESCRIPTION.new"
update "$pkg/DESCRIPTION.new" "$pkg/DESCRIPTION"
rm -f "$pkg/DESCRIPTION.new"

# src/: the glue, then each layer's sources without tests and mains, as the
# CMake build takes them. Sources that no longer exist are removed.
mkdir -p "$pkg/src"
update "$root/r/combosim/src/combosim.cc" "$pkg/src/combosim.cc"
objects="combosim.o RcppExports.o"
wanted=$(mktemp)
trap 'rm -f "$wanted"' EXIT
for layer in $layers; do
  for f in "$root/$layer"/*.h "$root/$layer"/*.cc; do
    [ -e "$f" ] || continue
    name=$(basename "$f")
    case "$name" in *_test.cc|main.cc) continue ;; esac
    update "$f" "$pkg/src/$layer/$name"
    echo "$layer/$name" >> "$wanted"
    case "$name" in *.cc) objects="$objects $layer/${name%.cc}.o" ;; esac
  done
done
for layer in $layers; do
  [ -d "$pkg/src/$layer" ] || continue
  for f in "$pkg/src/$layer"/*.h "$pkg/src/$layer"/*.cc; do
    [ -e "$f" ] || continue
    grep -qxF "$layer/$(basename "$f")" "$wanted" || rm -f "$f" "${f%.cc}.o"
  done
done
# A changed header may change any object: none of them is reused.
if [ "$headerchanged" = yes ]; then
  find "$pkg/src" -name '*.o' -delete
  rm -f "$pkg/src"/*.so
fi
{ cat "$root/r/combosim/src/Makevars"; echo; echo "OBJECTS = $objects"; } \
  > "$pkg/src/Makevars.new"
update "$pkg/src/Makevars.new" "$pkg/src/Makevars"
rm -f "$pkg/src/Makevars.new"

# The R wrappers of the [[Rcpp::export]] functions.
Rscript -e 'Rcpp::compileAttributes(commandArgs(TRUE)[1])' "$pkg" >/dev/null

mkdir -p "$build/rlib"
# Without the debug information R's -g puts in: 0.4 MB instead of 5.8.
R_STRIP_SHARED_LIB="strip --strip-debug" MAKEFLAGS="-j$jobs" R CMD INSTALL --no-multiarch --strip --library="$build/rlib" "$pkg"
