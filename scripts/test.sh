#!/usr/bin/env bash
# Runs every check: formatting, clang-tidy and the lint of the GitHub Actions
# workflows, then the Linux build, the sanitizer build,
# the Windows DLL under Wine, each with its whole test suite, and a short run of
# each fuzzer. When ORVEL_MSABI_SYSROOT names a sysroot for the MSVC ABI (made
# by msvc-abi's sysroot.sh), the Windows DLL built by clang-cl against
# Microsoft's STL runs its suite under Wine as well.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc)
scripts/check-format.sh
scripts/check-workflows.sh
# Every preset parses, the Windows-only ones included (they are not listed here).
cmake --list-presets=all >/dev/null
scripts/check-tidy.sh

presets=(linux linux-sanitize windows-mingw)
if [ -n "${ORVEL_MSABI_SYSROOT:-}" ] && [ -f "${ORVEL_MSABI_SYSROOT}/flags.txt" ]; then
  presets+=(windows-msabi)
else
  echo "=== windows-msabi: skipped (ORVEL_MSABI_SYSROOT names no sysroot; docs/windows-build.md)"
fi
presets+=(linux-fuzz)
for preset in "${presets[@]}"; do
  echo "=== ${preset}: build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "=== ${preset}: test"
  ctest --preset "$preset" -j "$jobs"
done

echo "=== valgrind memcheck"
scripts/check-memcheck.sh
