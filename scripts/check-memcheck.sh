#!/usr/bin/env bash
# Runs the stand-in host's full export (native build) under valgrind memcheck:
# any memory error or leak fails. The plug-in's intermediate child (the one
# that starts the viewer and exits at once) is left out of the report.
set -euo pipefail
cd "$(dirname "$0")/.."
bin="$PWD/build/linux/bin"
work="$PWD/build/memcheck"
rm -rf "$work"
mkdir -p "$work"
cd "$work"
valgrind --quiet --error-exitcode=99 --leak-check=full \
  --show-leak-kinds=definite,indirect,possible --errors-for-leak-kinds=definite,indirect,possible \
  --child-silent-after-fork=yes \
  "$bin/orvel_host" --plugin "$bin/ORVELPlugin.so" >host-output.txt 2>&1 || {
  status=$?
  cat host-output.txt
  echo "memcheck: the stand-in host's export failed under valgrind (exit $status)"
  exit 1
}
grep -q "summary: 1 mesh" host-output.txt || {
  cat host-output.txt
  echo "memcheck: the export ran, but the viewer did not report the model"
  exit 1
}
echo "memcheck: stand-in host's full export clean (no errors, no leaks)"
