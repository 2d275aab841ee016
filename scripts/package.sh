#!/usr/bin/env bash
# Makes the ZIP users install (ORVELPlugin.dll and INSTALL.txt) from the
# MinGW-w64 cross build, to show its layout, and lists it. The MinGW-built DLL
# is a test build, never one to give users: the shipped ZIP comes from the MSVC
# build on Windows (`cmake --preset windows-msvc`, `cmake --build --preset
# windows-msvc`, `cpack --preset windows-msvc`).
#
# Usage: scripts/package.sh [build folder]   (default: build/windows-mingw)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

build=${1:-build/windows-mingw}
cmake --preset windows-mingw -B "$build" >/dev/null
# Only the plug-in is packaged, so only the plug-in is built.
cmake --build "$build" -j "$(nproc)" --target ORVELPlugin
cpack --config "$build/CPackConfig.cmake" -B "$build"

zip=$(ls "$build"/ORVELPlugin-*-win64-mingw-test-build.zip)
echo "=== $zip (test build)"
cmake -E tar tvf "$zip"
