#!/bin/sh
# The heap trim is left out under every sanitizer clang has, as it is under
# GCC's: compiled with each, the probe calls no malloc_trim; compiled without
# one, it does.
# Usage: free_memory_check.sh CLANGXX NM INCLUDE_DIR PROBE_SOURCE
clangxx=$1 nm=$2 include=$3 probe=$4
objects=$(mktemp -d) || exit 1
trap 'rm -rf "$objects"' EXIT
for sanitizer in none address hwaddress thread memory; do
  flags=
  [ "$sanitizer" = none ] || flags=-fsanitize=$sanitizer
  "$clangxx" -std=c++17 -O1 $flags -I"$include" -c "$probe" -o "$objects/$sanitizer.o" || exit 1
  calls=$("$nm" -u "$objects/$sanitizer.o" | grep -c malloc_trim)
  if [ "$sanitizer" = none ] && [ "$calls" -eq 0 ]; then
    echo "without a sanitizer the heap is not trimmed"
    exit 1
  fi
  if [ "$sanitizer" != none ] && [ "$calls" -ne 0 ]; then
    echo "the heap is trimmed under -fsanitize=$sanitizer"
    exit 1
  fi
done
echo "malloc_trim called only without a sanitizer"
