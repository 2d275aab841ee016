#!/usr/bin/env bash
# Runs the plug-in's main job in the stand-in host: natively on Linux, then
# the Windows DLL in the Windows stand-in host under Wine. Each time the host
# opens a project, installs the stand-in viewer, runs "Export for ORVEL", and
# shows the workspace files and what the viewer received.
#
# Arguments are passed to the stand-in host (try --help), e.g. a .gltf/.glb
# project file, --no-viewer or --no-export-service.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/install-deps.sh

for argument in "$@"; do
  if [ "$argument" = "--help" ]; then
    cmake --preset linux >/dev/null
    cmake --build --preset linux -j "$(nproc)" --target orvel_host >/dev/null
    build/linux/bin/orvel_host --help
    exit 0
  fi
done

# The hosts run in their own working folders: files named relative to where
# the script was started (a project, a --plugin module) become absolute.
started_in=$OLDPWD
arguments=()
previous=
for argument in "$@"; do
  if [ "$previous" != "--file-type" ] && [ "${argument#-}" = "$argument" ] &&
     [ "${argument#/}" = "$argument" ]; then
    argument=$(realpath -m "$started_in/$argument")
  fi
  arguments+=("$argument")
  previous=$argument
done

jobs=$(nproc)
for preset in linux windows-mingw; do
  echo "=== ${preset}: build"
  cmake --preset "$preset" >/dev/null
  # The host program brings the plug-in and the stand-in viewer with it.
  cmake --build --preset "$preset" -j "$jobs" --target orvel_host >/dev/null
done

echo
echo "=== Linux: stand-in host with ORVELPlugin.so (working folder build/run/linux)"
# The working folder holds the host's drive: C:/ORVEL is build/run/linux/C:/ORVEL.
mkdir -p build/run/linux
(cd build/run/linux && "$root/build/linux/bin/orvel_host" "${arguments[@]}")

echo
echo "=== Windows: stand-in host with ORVELPlugin.dll under Wine (working folder build/run/windows,"
echo "    drive C: is build/run/wineprefix/drive_c)"
# A Wine prefix of its own, made quietly before the run.
export WINEPREFIX="$root/build/run/wineprefix" WINEDEBUG=-all
wine=/usr/lib/wine/wine64
"$wine" wineboot --init >/dev/null 2>&1
mkdir -p build/run/windows
(cd build/run/windows && "$wine" "$root/build/windows-mingw/bin/orvel_host.exe" "${arguments[@]}")
