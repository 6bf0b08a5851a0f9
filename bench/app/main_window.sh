#!/usr/bin/env bash
# Start-up time, memory and GUI-thread stalls of the main window with the
# virtual camera (bench_main_window), on an Xvfb display inside a private
# network namespace: the program announces itself on the network when it
# starts. Builds nothing: build the release build with VORENTA_BENCH=ON first.
#
#   bench/app/main_window.sh [--short] [release build folder, default build/release]
#
# The live phase lasts 10 minutes; --short makes it 2. The measurements come
# on standard output, the program's own log goes to a file named at the end.
# The exit status is 1 when a command did not do its work (no frames, a file
# not written).
set -euo pipefail
cd "$(dirname "$0")/../.."
minutes=10
build=build/release
for argument in "$@"; do
  case "$argument" in
    --short) minutes=2 ;;
    -h|--help) sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "unknown option: $argument" >&2; exit 2 ;;
    *) build=$argument ;;
  esac
done
program="$build/bench/app/bench_main_window"
if [ ! -x "$program" ]; then
  echo "$program is missing: build the target bench_main_window in $build (VORENTA_BENCH=ON) first" >&2
  exit 1
fi
exec scripts/isolated env QT_QPA_PLATFORM=xcb VORENTA_VIRTUAL_CAMERA=1 \
  xvfb-run -a -s "-screen 0 1920x1080x24" "$program" --live-minutes "$minutes"
