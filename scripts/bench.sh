#!/usr/bin/env bash
# Measures what one export costs the plug-in against the job's physical
# minimum (bench/minimal_*.cpp), natively and as the Windows DLL under Wine,
# and ends with one line for each:
#   native: DoFunction / minimal = R (95% interval A-B)
#   windows: DoFunction / minimal = R (95% interval A-B)
# Release builds of their own (presets linux-bench and windows-mingw-bench);
# the Windows program runs in a fresh Wine prefix of its own. Not a test.
#
# Usage: scripts/bench.sh [option...]
# The options go to both programs after their defaults, so a later one wins:
#   --steps                    time the plug-in's steps one by one instead
#                              (a table per platform, no closing lines)
#   --pairs=N                  timed pairs (default 2000 natively, 500 under Wine)
#   --warmup=N                 pairs run first and not counted (50; 20 under Wine)
#   --seed=N --resamples=N     order of the arms; bootstrap resamples (2000)
#   --folder-files=N           N unrelated files in the workspace folder first
#   --stale-files=N            N read-only stale temporaries of API.json there,
#                              which Windows (Wine) will not delete
# ORVEL_BENCH_PLATFORMS="native" (or "windows") runs one of the two.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

platforms=${ORVEL_BENCH_PLATFORMS:-native windows}
steps=0
for option in "$@"; do
  [[ "$option" == --steps ]] && steps=1
done
jobs=$(nproc)
log=$(mktemp)
trap 'rm -f "$log"' EXIT
results=()
status=0

for platform in $platforms; do
  case "$platform" in
    native) build=build/linux-bench ;;
    windows) build=build/windows-mingw-bench ;;
    *)
      echo "unknown platform in ORVEL_BENCH_PLATFORMS: $platform" >&2
      exit 2
      ;;
  esac
  cmake --preset "${build#build/}" >/dev/null
  cmake --build "$build" -j "$jobs" --target orvel_bench >/dev/null
  echo "=== $platform; load average before: $(cut -d ' ' -f 1-3 /proc/loadavg)"
  if [[ "$platform" == native ]]; then
    "$build/bin/orvel_bench" "$@" | tee "$log" || status=1
  else
    wine=/usr/lib/wine/wine64
    export WINEPREFIX="$PWD/$build/wineprefix" WINEDEBUG=-all
    "$(dirname "$wine")/wineserver" -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
    "$wine" wineboot --init >/dev/null 2>&1
    # Windows programs end their console lines with CR LF under Wine.
    (cd "$build/bin" && "$wine" orvel_bench.exe "$@") | tr -d '\r' | tee "$log" || status=1
    "$(dirname "$wine")/wineserver" -k 2>/dev/null || true
    rm -f "$build/bin/bench-stdout.txt"
  fi
  echo "load average after: $(cut -d ' ' -f 1-3 /proc/loadavg)"
  last=$(tail -n 1 "$log")
  if [[ "$steps" == 1 ]]; then
    :
  elif [[ "$last" == "$platform: DoFunction / minimal = "* ]]; then
    results+=("$last")
  else
    results+=("$platform: no result")
    status=1
  fi
  echo
done

if [[ ${#results[@]} -gt 0 ]]; then
  printf '%s\n' "${results[@]}"
fi
exit "$status"
