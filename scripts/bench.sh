#!/usr/bin/env bash
# Measures what one export costs the plug-in (DoFunction with an export service
# that rewrites a 48-byte GLB in place, in both arms alike, and a viewer that
# exits at once) beside the same work written by hand with the bare system calls,
# natively and as the Windows DLL under Wine, and ends with one line for each:
#   native: DoFunction / by hand = R (95% interval A-B)
#   windows: DoFunction / by hand = R (95% interval A-B)
# Release builds of their own (presets linux-bench and windows-mingw-bench);
# the Windows program runs in a fresh Wine prefix of its own. Not a test.
#
# Usage: scripts/bench.sh [option...]
# The options go to both programs after their defaults, so a later one wins:
#   --pairs=N                  timed pairs (default 2000 natively, 500 under Wine)
#   --warmup=N                 pairs run first and not counted (50; 20 under Wine)
#   --host_memory_mb=N         fill N MiB first, as a host holding a project
#   --environment_variables=N  add N variables to the environment first
#   --seed=N --resamples=N     order of the arms; bootstrap resamples (2000)
# ORVEL_BENCH_PLATFORMS="native" (or "windows") runs one of the two.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

platforms=${ORVEL_BENCH_PLATFORMS:-native windows}
jobs=$(nproc)
log=$(mktemp)
trap 'rm -f "$log"' EXIT
results=()
status=0

for platform in $platforms; do
  case "$platform" in
    native)
      build=build/linux-bench
      cmake --preset linux-bench >/dev/null
      cmake --build "$build" -j "$jobs" --target orvel_export_bench >/dev/null
      echo "=== native"
      if ! "$build/bin/orvel_export_bench" --pairs=2000 --warmup=50 "$@" | tee "$log"; then
        status=1
      fi
      ;;
    windows)
      build=build/windows-mingw-bench
      cmake --preset windows-mingw-bench >/dev/null
      cmake --build "$build" -j "$jobs" --target orvel_windows_bench >/dev/null
      echo "=== windows (Wine)"
      wine=/usr/lib/wine/wine64
      export WINEPREFIX="$PWD/$build/wineprefix" WINEDEBUG=-all
      "$(dirname "$wine")/wineserver" -k 2>/dev/null || true
      rm -rf "$WINEPREFIX"
      "$wine" wineboot --init >/dev/null 2>&1
      # Windows programs end their console lines with CR LF under Wine.
      if ! (cd "$build/bin" && "$wine" orvel_windows_bench.exe --pairs=500 --warmup=20 "$@") |
        tr -d '\r' | tee "$log"; then
        status=1
      fi
      "$(dirname "$wine")/wineserver" -k 2>/dev/null || true
      ;;
    *)
      echo "unknown platform in ORVEL_BENCH_PLATFORMS: $platform" >&2
      exit 2
      ;;
  esac
  last=$(tail -n 1 "$log")
  if [[ "$last" == "$platform: DoFunction / by hand = "* ]]; then
    results+=("$last")
  else
    results+=("$platform: no result")
    status=1
  fi
  echo
done

printf '%s\n' "${results[@]}"
exit "$status"
