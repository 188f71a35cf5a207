#!/usr/bin/env bash
# bench/elfmap-agreement.sh - how well elfmap's maps agree with addr2line, and how fast elfmap is.
#
# Builds one large C++ program from the GoogleTest and GoogleMock sources Debian ships in
# /usr/src/googletest (the libraries and most of their own test suites, linked together: about
# 60,000 lines with the headers they include) once with -O0 -g and once with -O2 -g, writes
# each map with elfmap, samples addresses from the line tables and compares maplookup's
# procedure and line with `addr2line -f -C`. Then times elfmap against
# `readelf --debug-dump=decodedline` on the same file.
#
#   bench/elfmap-agreement.sh [BUILD_DIR] [SAMPLES]
# BUILD_DIR is the CMake build holding bin/elfmap and bin/maplookup (default: build).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
samples=${2:-4000}
src=/usr/src/googletest
work=${ELFMAP_BENCH_DIR:-/tmp/elfmap-bench}
mkdir -p "$work"

[ -x "$build/bin/elfmap" ] && [ -x "$build/bin/maplookup" ] ||
  { echo "build elfmap and maplookup first (ninja -C $build elfmap maplookup)" >&2; exit 1; }
[ -d "$src" ] || { echo "$src missing: apt-get install googletest" >&2; exit 1; }

sources=(
  googletest/src/gtest-all.cc googlemock/src/gmock-all.cc googlemock/src/gmock_main.cc
  googlemock/test/gmock-actions_test.cc googlemock/test/gmock-more-actions_test.cc
  googlemock/test/gmock-matchers-containers_test.cc googletest/test/googletest-printers-test.cc
  googletest/test/gtest_unittest.cc
)
includes=(-I"$src/googletest/include" -I"$src/googletest" -I"$src/googlemock/include" -I"$src/googlemock")

build_program() { # $1: optimisation flag
  local opt=$1 out="$work/gtests$1"
  [ -x "$out" ] && return
  mkdir -p "$out.objs"
  local objs=()
  for s in "${sources[@]}"; do objs+=("$out.objs/$(basename "$s" .cc).o"); done
  for s in "${sources[@]}"; do
    local o="$out.objs/$(basename "$s" .cc).o"
    [ -f "$o" ] || echo "${CXX:-g++} -std=c++17 $opt -g ${includes[*]} -c $src/$s -o $o.tmp && mv $o.tmp $o"
  done | xargs -P 2 -I{} sh -c '{}'
  ${CXX:-g++} -o "$out" "${objs[@]}" -lpthread
}

count_lines() { # lines of every source file the program's line tables name
  readelf --debug-dump=decodedline "$1" 2>/dev/null |
    awk '/^CU: |^\// { sub(/^CU: /, ""); sub(/:$/, ""); print }' | grep -v '^$' | sort -u |
    while read -r f; do [ -f "$f" ] && echo "$f"; done | sort -u | xargs cat 2>/dev/null | wc -l
}

for opt in -O0 -O2; do
  build_program $opt
  exe="$work/gtests$opt"
  echo "== $exe ($(count_lines "$exe") source lines in its line tables, $(stat -c %s "$exe") bytes)"
  python3 "$here/elfmap/agreement.py" "$exe" "$build/bin/elfmap" "$build/bin/maplookup" "$samples"
done

exe="$work/gtests-O2"
best() { # best of five wall-clock seconds of "$@"
  local best=999999
  for _ in 1 2 3 4 5; do
    local t0 t1
    t0=$(date +%s.%N); "$@" >/dev/null; t1=$(date +%s.%N)
    best=$(echo "$t1 - $t0" | bc -l | awk -v b="$best" '{ print ($1 < b) ? $1 : b }')
  done
  echo "$best"
}
for opt in -O0 -O2; do
  exe="$work/gtests$opt"
  e=$(best "$build/bin/elfmap" "$exe" "$work/speed.map")
  r=$(best readelf --debug-dump=decodedline "$exe")
  printf 'speed %s: elfmap %.3f s, readelf --debug-dump=decodedline %.3f s\n' "$opt" "$e" "$r"
done
