#!/usr/bin/env bash
# Runs every check: formatting, clang-tidy and the lint of the GitHub Actions
# workflows, then the Linux build, the sanitizer build,
# the Windows DLL under Wine, each with its whole test suite, and a short run of
# each fuzzer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc)
scripts/check-format.sh
scripts/check-workflows.sh
# Every preset parses, the Windows-only ones included (they are not listed here).
cmake --list-presets=all >/dev/null
scripts/check-tidy.sh

for preset in linux linux-sanitize windows-mingw linux-fuzz; do
  echo "=== ${preset}: build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "=== ${preset}: test"
  ctest --preset "$preset" -j "$jobs"
done

echo "=== valgrind memcheck"
scripts/check-memcheck.sh
