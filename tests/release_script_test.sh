#!/usr/bin/env bash
# The release job's script (packaging/release.sh, given as $1) against a
# stand-in gh that plays the tag's release in each state GitHub may have it
# in, in a scratch folder ($2): a copy of the script under a CMakeLists.txt
# of version 2.3.4. Each row gives what the stand-in holds, the command, and
# what gh must have been asked (in order) and the output must say. The
# project's own CMakeLists.txt must give its version ($3) to the check too.
set -u
script=$1 work=$2 version=$3
rm -rf "$work" && mkdir -p "$work/tree/packaging" "$work/bin" "$work/zips" "$work/other"
cp "$script" "$work/tree/packaging/release.sh"
printf 'cmake_minimum_required(VERSION 3.25)\nproject(ORVELPlugin VERSION 2.3.4 DESCRIPTION "x" LANGUAGES CXX)\n' \
  >"$work/tree/CMakeLists.txt"
echo user >"$work/zips/ORVELPlugin-2.3.4-win64.zip"
echo symbols >"$work/zips/ORVELPlugin-2.3.4-win64-symbols.zip"
echo user >"$work/other/ORVELPlugin-2.3.5-win64.zip"
echo symbols >"$work/other/ORVELPlugin-2.3.5-win64-symbols.zip"

# The stand-in gh: logs each call's first words, answers by $STATE (none,
# draft, published, immutable, offline).
cat >"$work/bin/gh" <<'GH'
#!/usr/bin/env bash
for word in "${@:1:5}"; do
  [[ $word == /* ]] && word=${word##*/}
  printf '%s ' "$word"
done >>"$GH_LOG"
echo >>"$GH_LOG"
case "$STATE:$1 $2:$*" in
  offline:"release view":*) echo "error connecting to api.github.com" >&2; exit 1 ;;
  none:"release view":*) echo "release not found" >&2; exit 1 ;;
  draft:"release view":*isDraft*) echo true ;;
  *:"release view":*isDraft*) echo false ;;
  *:"release view":*body*) printf 'What changed\nORVELPlugin.dll in ORVELPlugin-2.3.4-win64.zip is not code-signed: Windows may call its publisher unknown. SHA-256 of ORVELPlugin-2.3.4-win64.zip: 00\n' ;;
  immutable:"api "*) echo true ;;
  *:"api "*) echo false ;;
esac
exit 0
GH
chmod +x "$work/bin/gh"

# Rows: state | command | gh's calls, joined by "; " | what the output must match.
rows=(
  "none|check-tag v2.3.4||tag v2.3.4 matches the project's version 2.3.4"
  "none|check-tag v2.3.5||tag v2.3.5 does not match the project's version 2.3.4"
  "none|check-tag 2.3.4||tag 2.3.4 does not match the project's version 2.3.4"
  "none|attach v2.3.4 ZIPS|release view v2.3.4 --repo owner/repo; release create v2.3.4 ORVELPlugin-2.3.4-win64.zip ORVELPlugin-2.3.4-win64-symbols.zip|released v2.3.4"
  "published|attach v2.3.4 ZIPS|release view v2.3.4 --repo owner/repo; api repos/owner/repo/releases/tags/v2.3.4 --jq .immutable == true; release view v2.3.4 --repo owner/repo; release edit v2.3.4 --repo owner/repo; release upload v2.3.4 ORVELPlugin-2.3.4-win64.zip ORVELPlugin-2.3.4-win64-symbols.zip|updated the release v2.3.4"
  "draft|attach v2.3.4 ZIPS|release view v2.3.4 --repo owner/repo; release view v2.3.4 --repo owner/repo; release edit v2.3.4 --repo owner/repo; release upload v2.3.4 ORVELPlugin-2.3.4-win64.zip ORVELPlugin-2.3.4-win64-symbols.zip|v2.3.4 is a draft: its ZIPs are attached; publish it"
  "immutable|attach v2.3.4 ZIPS|release view v2.3.4 --repo owner/repo; api repos/owner/repo/releases/tags/v2.3.4 --jq .immutable == true|the release v2.3.4 is published and immutable: GitHub takes no more files for it.*raise the version in CMakeLists.txt"
  "offline|attach v2.3.4 ZIPS|release view v2.3.4 --repo owner/repo|cannot look up the release v2.3.4: error connecting"
  "none|attach v2.3.4 OTHER||tag v2.3.4 does not match the version 2.3.5 of the build for users"
  "none|attach v2.3.4 SYMBOLLESS||the build for users has no ORVELPlugin-2.3.4-win64-symbols.zip"
)
mkdir -p "$work/symbolless" && cp "$work/zips/ORVELPlugin-2.3.4-win64.zip" "$work/symbolless/"
failed=0
for row in "${rows[@]}"; do
  IFS='|' read -r state command calls expected <<<"$row"
  command=${command/ZIPS/$work/zips}
  command=${command/OTHER/$work/other}
  command=${command/SYMBOLLESS/$work/symbolless}
  rm -f "$work/gh.log" && touch "$work/gh.log"
  # shellcheck disable=SC2086
  output=$(cd "$work" && PATH="$work/bin:$PATH" GH_LOG="$work/gh.log" STATE=$state \
    GITHUB_REPOSITORY=owner/repo tree/packaging/release.sh $command 2>&1)
  status=$?
  asked=$(sed 's/ *$//' "$work/gh.log" | paste -sd';' | sed 's/;/; /g')
  should_fail=0
  case $expected in *"does not match"* | *immutable* | *"cannot look up"* | *"has no"*) should_fail=1 ;; esac
  if [ "$asked" != "$calls" ] || ! grep -qE -- "$expected" <<<"$output" ||
    { [ $should_fail = 1 ] && [ $status = 0 ]; } || { [ $should_fail = 0 ] && [ $status != 0 ]; }; then
    printf 'FAILED: %s, %s (exit %s)\n  gh was asked:   %s\n  it should be:   %s\n  output: %s\n  should match: %s\n' \
      "$state" "$command" "$status" "$asked" "$calls" "$output" "$expected"
    failed=1
  else
    echo "as expected: $state, ${command%% /*}"
  fi
done
if ! "$script" check-tag "v$version" >/dev/null; then
  echo "FAILED: the project's own CMakeLists.txt does not give the version $version to check-tag"
  failed=1
fi
exit $failed
