#!/usr/bin/env bash
# Makes the ZIP users install (ORVELPlugin.dll and INSTALL.txt) from the
# MinGW-w64 cross build, to show its layout, and lists it. The MinGW-built DLL
# is a test build against the stand-in SDK, never one to give users, and says
# so. The ZIP for users comes only from the MSVC build on Windows against the
# host's real SDK (`cmake --preset windows-msvc -DORVEL_HOST_SDK_DIR=<SDK
# folder>`, `cmake --build --preset windows-msvc`, `cpack --preset
# windows-msvc`), which CI's release job makes (docs/windows-build.md).
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
