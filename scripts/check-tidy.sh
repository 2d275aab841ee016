#!/usr/bin/env bash
# Runs clang-tidy (checks in .clang-tidy) over the plug-in's own sources:
# plugin/, host/, export/ and platform/ as compiled by the native build, then
# the Windows-only files as clang compiles them for MinGW-w64 (with the MinGW
# C++ headers named, since clang does not find them in Debian's "12-posix"
# folder by itself). Fails on any finding.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/tidy
tidy=${CLANG_TIDY:-clang-tidy}

# Configuring is enough: the analysis needs the compile commands, not objects.
cmake --preset linux -B "$build" -DORVEL_BUILD_TESTS=OFF -DORVEL_BUILD_STANDINS=OFF >/dev/null

mapfile -t files < <(sed -n 's/^ *"file": "\(.*\)",\?$/\1/p' "$build/compile_commands.json" |
  grep -E "^$PWD/(plugin|host|export|platform)/[^/]+\.cpp$" | sort -u)
if [ ${#files[@]} -eq 0 ]; then
  echo "check-tidy: no sources found in $build/compile_commands.json" >&2
  exit 1
fi

log=$(mktemp)
trap 'rm -f "$log"' EXIT
# One clang-tidy per file, two at a time; each exits non-zero on a finding.
if ! printf '%s\0' "${files[@]}" |
  xargs -0 -n 1 -P 2 "$tidy" -p "$build" --quiet >"$log" 2>&1; then
  grep -v -E '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$' "$log" >&2 || true
  echo "clang-tidy: findings above" >&2
  exit 1
fi

windows_files=(platform/process_start_windows.cpp platform/file_replace_windows.cpp
  platform/file_probe_windows.cpp platform/stream_lock_windows.cpp plugin/dll_main.cpp)
mingw_cxx=/usr/lib/gcc/x86_64-w64-mingw32/12-posix/include/c++
if ! "$tidy" --quiet "${windows_files[@]}" -- clang++ --target=x86_64-w64-mingw32 -std=c++17 \
  -I. -Istandins/host_sdk/include -isystem "$mingw_cxx" -isystem "$mingw_cxx/x86_64-w64-mingw32" \
  -isystem /usr/x86_64-w64-mingw32/include >"$log" 2>&1; then
  grep -v -E '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$' "$log" >&2 || true
  echo "clang-tidy: findings above (Windows sources)" >&2
  exit 1
fi
echo "clang-tidy: $((${#files[@]} + ${#windows_files[@]})) files clean (${#windows_files[@]} of them as Windows code)"
