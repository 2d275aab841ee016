#!/usr/bin/env bash
# Runs the plug-in's main job in the stand-in host: natively on Linux, then
# the Windows DLL in the Windows stand-in host under Wine. Arguments are passed
# to the stand-in host (try --help).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc)
for preset in linux windows-mingw; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs" --target orvel_host >/dev/null
done

echo "=== Linux: stand-in host with ORVELPlugin.so"
# The working folder stands in for the drive's parent: C:/ORVEL is run/linux/C:/ORVEL.
mkdir -p build/run/linux/C:
(cd build/run/linux && "$OLDPWD/build/linux/bin/orvel_host" --plugin "$OLDPWD/build/linux/bin/ORVELPlugin.so" "$@")

echo
echo "=== Windows: stand-in host with ORVELPlugin.dll under Wine"
export WINEPREFIX="$PWD/build/run/wineprefix" WINEDEBUG=-all
(cd build/windows-mingw/bin && /usr/lib/wine/wine64 orvel_host.exe "$@")
