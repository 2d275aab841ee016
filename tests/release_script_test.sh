#!/usr/bin/env bash
# The release job's script (packaging/release.sh, given as $1) against a
# stand-in gh that plays the tag's release in each state GitHub may have it
# in, in a scratch folder ($2): a copy of the script under a CMakeLists.txt
# of version 2.3.4. Each row gives what the stand-in holds, the command, what
# gh must have been asked (in order), the exit status and what the output must
# say; a run that fails must claim no release, and no run may advise making a
# published release a draft again. The project's own
# CMakeLists.txt must give its version ($3) to the check too, and the tag
# filter of push.yaml ($4) must start a run for v<that version>.
set -u
script=$1 work=$2 version=$3 workflow=$4
rm -rf "$work" && mkdir -p "$work/tree/packaging" "$work/bin" "$work/zips" "$work/other"
cp "$script" "$work/tree/packaging/release.sh"
printf 'cmake_minimum_required(VERSION 3.25)\nproject(ORVELPlugin VERSION 2.3.4 DESCRIPTION "x" LANGUAGES CXX)\n' \
  >"$work/tree/CMakeLists.txt"
echo user >"$work/zips/ORVELPlugin-2.3.4-win64.zip"
echo symbols >"$work/zips/ORVELPlugin-2.3.4-win64-symbols.zip"
echo user >"$work/other/ORVELPlugin-2.3.5-win64.zip"
echo symbols >"$work/other/ORVELPlugin-2.3.5-win64-symbols.zip"

# The stand-in gh plays GitHub as gh reports it, from the state in $GH_STATE
# (release.json, the release as the REST API gives it, each file with GitHub's
# digest of what was uploaded; files offline, drops: no answer after the first
# call, immutable: the repository's setting, no-tag; and, once each,
# fails-user / fails-symbols: that ZIP's upload fails after --clobber deleted
# the file it replaces, as gh does; cut: the run is cancelled when it comes to
# write a SHA-256 into the notes). It logs every argument of each call,
# tab-separated, paths by file name.
cat >"$work/bin/gh" <<'GH'
#!/usr/bin/env bash
line=
for word in "$@"; do
  [[ $word == /* ]] && word=${word##*/}
  line+=${word//$'\n'/\\n}$'\t'
done
printf '%s\n' "${line%$'\t'}" >>"$GH_LOG"
cd "$GH_STATE" && echo $(($(cat calls) + 1)) >calls
if [ -e offline ] || { [ -e drops ] && [ "$(cat calls)" -gt 1 ]; }; then
  printf 'error connecting to api.github.com\ncheck your internet connection or https://githubstatus.com\n' >&2
  exit 1
fi
release() { jq "$@" release.json >next.json && mv next.json release.json; }
if [ "$1" = api ]; then # the API finds only a published release by its tag
  if [ -f release.json ] && [ "$(jq .draft release.json)" = false ] &&
    [ "$2" = "repos/owner/repo/releases/tags/$(jq -r .tag_name release.json)" ]; then
    exec jq -r "$4" release.json
  fi
  echo 'gh: Not Found (HTTP 404)' >&2 && exit 1
fi
verb=$2 tag=$3 files=() flags=" " repo='' json='' jq=. notes='' title='' && shift 3
while [ $# -gt 0 ]; do
  case $1 in
    --repo) repo=$2 && shift 2 ;;
    --json) json=$2 && shift 2 ;;
    --jq) jq=$2 && shift 2 ;;
    --notes) notes=$2 && shift 2 ;;
    --title) title=$2 && shift 2 ;;
    --*) flags+="$1 " && shift ;;
    *) files+=("$1") && shift ;;
  esac
done
if [ "$verb" = create ]; then # a draft with the files (the rows require --draft)
  [[ $flags == *" --verify-tag "* && -e no-tag ]] &&
    { echo "tag $tag doesn't exist in the repo $repo, aborting due to --verify-tag flag" >&2; exit 1; }
  [ ! -f release.json ] || { echo "a release with the same tag name already exists: $tag" >&2; exit 1; }
  [[ $flags == *" --generate-notes "* ]] && notes+=${notes:+$'\n\n'}"**Full Changelog**: https://github.com/$repo/commits/$tag"
  jq -n --arg tag "$tag" --arg title "$title" --arg body "$notes" \
    '{tag_name: $tag, name: $title, body: $body, draft: true, immutable: false, assets: []}' >release.json
elif [ ! -f release.json ] || [ "$(jq -r .tag_name release.json)" != "$tag" ]; then
  echo 'release not found' >&2 && exit 1
fi
case $verb in
  view) jq --arg fields "$json" '{isDraft: .draft, body, assets: [.assets[] | {name, state, size}]}
          | with_entries(select(.key | IN($fields | split(",")[])))' release.json | jq -r "$jq" ;;
  edit)
    if [[ -e cut && $notes == *SHA-256* ]]; then
      rm cut && echo 'Error: The operation was canceled.' >&2 && kill -TERM "$PPID" && exit 1
    fi
    release --arg body "$notes" '.body = $body' ;;
  create | upload)
    [ "$(jq .immutable release.json)" = false ] ||
      { echo 'HTTP 422: Cannot upload assets to an immutable release.' >&2; exit 1; }
    for file in "${files[@]}"; do # as with --clobber: a file of the same name goes
      release --arg n "${file##*/}" '.assets = [.assets[] | select(.name != $n)]'
      fails='fails-user' && [[ $file != *-symbols.zip ]] || fails='fails-symbols'
      [ ! -e $fails ] || { rm $fails && echo "HTTP 502: Server Error (upload of ${file##*/})" >&2 && exit 1; }
      release --arg n "${file##*/}" --argjson size "$(stat -c %s "$file")" --arg digest "sha256:$(sha256sum <"$file" | cut -d' ' -f1)" \
        '.assets += [{name: $n, state: "uploaded", size: $size, digest: $digest}]'
    done ;;
  *) echo "the stand-in does not play gh release $verb" >&2 && exit 1 ;;
esac
GH
chmod +x "$work/bin/gh"

# Sets the stand-in's GitHub up for a row: again (as the previous row left
# it), publish / unpublish (the maintainer publishes the draft / makes it a
# draft again through the API, then the job re-runs), or else from nothing:
# immutable (the repository's setting), draft (made by hand, holding an older
# build), published / published-half / published-bare (with both ZIPs; the
# user's whole and the symbols ZIP's upload broken off; none), offline, drops,
# no-tag, fails-user, fails-symbols, cut.
github() {
  local state=$work/github old="ORVELPlugin.dll in ORVELPlugin-2.3.4-win64.zip is not code-signed: Windows may call its publisher unknown. SHA-256 of ORVELPlugin-2.3.4-win64.zip: 00"
  case ${1%% *} in again | publish | unpublish) ;; *) rm -rf "$state" && mkdir "$state" ;; esac
  echo 0 >"$state/calls"
  for word in $1; do
    local assets='' published=false
    case $word in
      draft) assets=both ;;
      published) assets=both published=true ;;
      published-half) assets=user published=true ;;
      published-bare) published=true ;;
      publish) jq --argjson on "$([ -e "$state/immutable" ] && echo true || echo false)" '.draft = false | .immutable = $on' \
        "$state/release.json" >"$state/next.json" && mv "$state/next.json" "$state/release.json" ;;
      unpublish) jq '.draft = true' "$state/release.json" >"$state/next.json" && mv "$state/next.json" "$state/release.json" ;;
      none | again) ;;
      *) touch "$state/$word" ;;
    esac
    case $word in draft | published*)
      jq -n --arg body "What changed"$'\n'"$old" --arg assets "$assets" --argjson published $published \
        --argjson on "$([ -e "$state/immutable" ] && [ $published = true ] && echo true || echo false)" \
        '{tag_name: "v2.3.4", name: "ORVELPlugin 2.3.4", body: $body, draft: ($published | not), immutable: $on,
          assets: ([{name: "ORVELPlugin-2.3.4-win64.zip", state: "uploaded", size: 9, digest: "sha256:00"},
                   {name: "ORVELPlugin-2.3.4-win64-symbols.zip", state: "uploaded", size: 9, digest: "sha256:01"}]
            | if $assets == "both" then . elif $assets == "user" then .[1].state = "open" else [] end)}' >"$state/release.json" ;;
    esac
  done
}

# What gh is asked, as the rows write it: the notes' line with this build's
# SHA-256 is NOTES, the two ZIPs are ZIPS, a --jq expression is JQ; $strip
# takes the line out of the notes, $edit writes it.
notes="ORVELPlugin.dll in ORVELPlugin-2.3.4-win64.zip is not code-signed: Windows may call its publisher unknown. SHA-256 of ORVELPlugin-2.3.4-win64.zip: 6d9010b2b7a1483b256ae7477738dba7c530bd9ba53db1d6691441e74b83608a"
view="release view v2.3.4 --repo owner/repo --json isDraft --jq JQ"
body="release view v2.3.4 --repo owner/repo --json body --jq JQ"
api="api repos/owner/repo/releases/tags/v2.3.4 --jq JQ"
create="release create v2.3.4 --repo owner/repo --draft --verify-tag --title ORVELPlugin 2.3.4 --generate-notes"
upload="release upload v2.3.4 ZIPS --repo owner/repo --clobber"
strip="release edit v2.3.4 --repo owner/repo --notes "
edit="release edit v2.3.4 --repo owner/repo --notes NOTES\n\n"
changelog="**Full Changelog**: https://github.com/owner/repo/commits/v2.3.4"
zips="ORVELPlugin-2.3.4-win64.zip ORVELPlugin-2.3.4-win64-symbols.zip"
check="try it in CLO 3D, and just before publishing check that its SHA-256 is the one in the notes and GitHub's digest"
drafted="drafted the release v2.3.4 with $zips; it is not published. Download ORVELPlugin-2.3.4-win64.zip from the draft, $check"
redrafted="the release v2.3.4 is a draft: it now holds this run's $zips, and its notes give the SHA-256*A ZIP tried before this run may be another build*$check"
kept="the release v2.3.4 is published with $zips: its files stay as they are, and this run's build is not released"
lacks="this job gives a published release no files, and its files stay as they are. To release, raise the version in CMakeLists.txt, commit, and push the tag of the new version"
unreachable="cannot look up the release v2.3.4: error connecting to api.github.com"
cancelled="Error: The operation was canceled."

# Rows: GitHub before the run | command | gh's calls, joined by "; " | exit
# status | what the output says (* stands for any text).
rows=(
  "none|check-tag v2.3.4||0|tag v2.3.4 matches the project's version 2.3.4"
  "none|check-tag v2.3.5||1|tag v2.3.5 does not match the project's version 2.3.4"
  "none|check-tag 2.3.4||1|tag 2.3.4 does not match the project's version 2.3.4"
  "none|check-tag v2.3.4-rc1||1|tag v2.3.4-rc1 does not match the project's version 2.3.4"
  # No release: an empty draft, filled; a re-run finds it; once published, re-runs leave it.
  "none|attach v2.3.4 ZIPS|$view; $create; $body; $upload; $edit$changelog|0|$drafted"
  "again|attach v2.3.4 ZIPS|$view; $body; $strip$changelog; $upload; $edit$changelog|0|$redrafted"
  "publish|attach v2.3.4 ZIPS|$view; $api|0|$kept"
  "again|attach v2.3.4 ZIPS|$view; $api|0|$kept"
  "immutable none|attach v2.3.4 ZIPS|$view; $create; $body; $upload; $edit$changelog|0|$drafted"
  "again|attach v2.3.4 ZIPS|$view; $body; $strip$changelog; $upload; $edit$changelog|0|$redrafted"
  "publish|attach v2.3.4 ZIPS|$view; $api|0|$kept"
  "again|attach v2.3.4 ZIPS|$view; $api|0|$kept"
  # A draft made by hand keeps its notes; an older build's line goes.
  "draft|attach v2.3.4 ZIPS|$view; $body; ${strip}What changed; $upload; ${edit}What changed|0|$redrafted"
  "again|attach v2.3.4 ZIPS|$view; $body; ${strip}What changed; $upload; ${edit}What changed|0|$redrafted"
  # The line leaves the notes before the files change and comes back after
  # both uploads: a run that fails at either upload, or is cancelled before
  # the notes are written, leaves a draft whose notes give no SHA-256 (see
  # below the table); a re-run completes it.
  "none fails-user|attach v2.3.4 ZIPS|$view; $create; $body; $upload|1|HTTP 502: Server Error (upload of ORVELPlugin-2.3.4-win64.zip)"
  "again|attach v2.3.4 ZIPS|$view; $body; $upload; $edit$changelog|0|$redrafted"
  "draft fails-user|attach v2.3.4 ZIPS|$view; $body; ${strip}What changed; $upload|1|HTTP 502: Server Error (upload of ORVELPlugin-2.3.4-win64.zip)"
  "again|attach v2.3.4 ZIPS|$view; $body; $upload; ${edit}What changed|0|$redrafted"
  "draft fails-symbols|attach v2.3.4 ZIPS|$view; $body; ${strip}What changed; $upload|1|HTTP 502: Server Error (upload of ORVELPlugin-2.3.4-win64-symbols.zip)"
  "again|attach v2.3.4 ZIPS|$view; $body; $upload; ${edit}What changed|0|$redrafted"
  "none cut|attach v2.3.4 ZIPS|$view; $create; $body; $upload; $edit$changelog|143|$cancelled"
  "again|attach v2.3.4 ZIPS|$view; $body; $upload; $edit$changelog|0|$redrafted"
  "draft cut|attach v2.3.4 ZIPS|$view; $body; ${strip}What changed; $upload; ${edit}What changed|143|$cancelled"
  "again|attach v2.3.4 ZIPS|$view; $body; $upload; ${edit}What changed|0|$redrafted"
  # Published with both ZIPs (mutable or immutable): nothing changes.
  "published|attach v2.3.4 ZIPS|$view; $api|0|$kept"
  "immutable published|attach v2.3.4 ZIPS|$view; $api|0|$kept"
  # Published without them, mutable or immutable: stop, saying to release a
  # new version. Made a draft again (through the API), it is filled.
  "published-bare|attach v2.3.4 ZIPS|$view; $api|1|the release v2.3.4 is published without $zips: $lacks"
  "again|attach v2.3.4 ZIPS|$view; $api|1|the release v2.3.4 is published without $zips: $lacks"
  "unpublish|attach v2.3.4 ZIPS|$view; $body; ${strip}What changed; $upload; ${edit}What changed|0|$redrafted"
  "immutable published-half|attach v2.3.4 ZIPS|$view; $api|1|the release v2.3.4 is published without ORVELPlugin-2.3.4-win64-symbols.zip: $lacks"
  "again|attach v2.3.4 ZIPS|$view; $api|1|the release v2.3.4 is published without ORVELPlugin-2.3.4-win64-symbols.zip: $lacks"
  # GitHub unreachable from the start, or from the second call on; the tag gone.
  "offline|attach v2.3.4 ZIPS|$view|1|$unreachable"
  "again|attach v2.3.4 ZIPS|$view|1|$unreachable"
  "none drops|attach v2.3.4 ZIPS|$view; $create|1|error connecting to api.github.com"
  "draft drops|attach v2.3.4 ZIPS|$view; $body|1|error connecting to api.github.com"
  "immutable published-bare drops|attach v2.3.4 ZIPS|$view; $api|1|cannot look up the published release v2.3.4: error connecting"
  "none no-tag|attach v2.3.4 ZIPS|$view; $create|1|tag v2.3.4 doesn't exist in the repo owner/repo, aborting due to --verify-tag flag"
  # The build for users is not the tag's version, or incomplete.
  "none|attach v2.3.4 OTHER||1|tag v2.3.4 does not match the version 2.3.5 of the build for users"
  "none|attach v2.3.4 SYMBOLLESS||1|the build for users has no ORVELPlugin-2.3.4-win64-symbols.zip"
)
mkdir -p "$work/symbolless" && cp "$work/zips/ORVELPlugin-2.3.4-win64.zip" "$work/symbolless/"
failed=0
for row in "${rows[@]}"; do
  IFS='|' read -r state command calls status expected <<<"$row"
  command=${command/ZIPS/$work/zips}
  command=${command/OTHER/$work/other}
  command=${command/SYMBOLLESS/$work/symbolless}
  github "$state"
  rm -f "$work/gh.log" && touch "$work/gh.log"
  # shellcheck disable=SC2086
  output=$(cd "$work" && PATH="$work/bin:$PATH" GH_LOG="$work/gh.log" GH_STATE="$work/github" \
    GITHUB_REPOSITORY=owner/repo tree/packaging/release.sh $command 2>&1)
  exited=$?
  asked=$(awk -F'\t' -v OFS=' ' '{ for (i = 2; i <= NF; i++) if ($(i - 1) == "--jq") $i = "JQ"; $1 = $1; print }' "$work/gh.log" |
    paste -sd';' | sed 's/;/; /g')
  asked=${asked//"$notes"/NOTES}
  asked=${asked//"$zips"/ZIPS}
  # Whatever the run did, a draft whose notes give a SHA-256 holds both ZIPs
  # whole, and that SHA-256 is GitHub's digest of its user's ZIP: a draft
  # that passes the publish step holds the file the notes name.
  held=complete
  [ ! -f "$work/github/release.json" ] || held=$(jq -r '[.body | scan("SHA-256 of ORVELPlugin-2\\.3\\.4-win64\\.zip: ([0-9a-f]+)")[0]] as $hash
    | if .draft == false or (.body | test("SHA-256") | not) then "complete"
      elif ($hash | length) == 1 and ([.assets[] | select(.state == "uploaded") | .name] | sort) == ([$zips | splits(" ")] | sort)
        and ([.assets[] | select(.name == "ORVELPlugin-2.3.4-win64.zip") | .digest] == ["sha256:" + $hash[0]]) then "complete"
      else "a draft whose notes give a SHA-256 of its user'"'"'s ZIP that it does not hold whole: " + tojson end' \
    --arg zips "$zips" "$work/github/release.json")
  # shellcheck disable=SC2053
  if [ "$asked" != "$calls" ] || [[ $output != *$expected* ]] || [ "$exited" != "$status" ] || [ "$held" != complete ] ||
    [[ $output == *"draft again"* ]] ||
    { [ "$status" != 0 ] && [[ $output == *"drafted"* || $output == *"is a draft:"* || $output == *"is published with "* ]]; }; then
    printf 'FAILED: %s, %s (exit %s)\n  gh was asked:   %s\n  it should be:   %s\n  output: %s\n  should say: %s (exit %s)\n  GitHub holds: %s\n' \
      "$state" "$command" "$exited" "$asked" "$calls" "$output" "$expected" "$status" "$held"
    failed=1
  else
    echo "as expected: $state, ${command%% /*}"
  fi
done
if ! "$script" check-tag "v$version" >/dev/null; then
  echo "FAILED: the project's own CMakeLists.txt does not give the version $version to check-tag"
  failed=1
fi

# push.yaml's tag filter, read as GitHub reads a filter's patterns (* any text
# but /, ** any text, ? and + the character before zero or one, one or more
# times, [...] one of the characters, ! before a pattern: not these; the last
# pattern that matches decides), starts a run for v<the project's version> and
# for no tag of another kind. (v<version>-rc1 starts one, which the job tag
# stops.)
mapfile -t patterns < <(awk '/^    tags:/ { on = 1; next }
  on && /^      - / { sub(/^      - */, ""); gsub(/^["\047]|["\047]$/, ""); print; next }
  on && !/^ *#/ { on = 0 }' "$workflow")
starts() {
  local pattern regex started=false
  for pattern in "${patterns[@]}"; do
    regex=${pattern#!} && regex=${regex//./\\.} && regex=${regex//\*\*/$'\1'}
    regex=${regex//\*/[^/]*} && regex=${regex//$'\1'/.*}
    if [[ $1 =~ ^$regex$ ]]; then [[ $pattern == !* ]] && started=false || started=true; fi
  done
  [ $started = true ]
}
if [ ${#patterns[@]} -eq 0 ] || ! starts "v$version"; then
  echo "FAILED: push.yaml's tag filter (${patterns[*]}) starts no run for the tag v$version"
  failed=1
fi
for tag in vendor-drop vnext v "$version" "release-v$version" "v$version/windows" latest; do
  if starts "$tag"; then
    echo "FAILED: push.yaml's tag filter (${patterns[*]}) starts a run for the tag $tag"
    failed=1
  fi
done
exit $failed
