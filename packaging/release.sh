#!/usr/bin/env bash
# The release job's two steps, run by .github/workflows/push.yaml with the
# GitHub CLI (gh) and GITHUB_REPOSITORY set:
#
#   packaging/release.sh check-tag TAG
#       stops unless TAG is v<the project's version> (CMakeLists.txt), before
#       anything is built;
#   packaging/release.sh attach TAG FOLDER
#       gives the tag's release, as a draft, the build for users in FOLDER (the
#       user's ZIP and the symbols ZIP, nothing else), with a note that the DLL
#       is not code-signed and the user's ZIP's SHA-256.
#
# The job never publishes: a maintainer downloads the draft's user's ZIP,
# checks its SHA-256 against the notes, tries it in CLO 3D and only then
# publishes the draft, so that users get the DLL that was tried. A release that
# does not exist yet is created as a draft with its ZIPs in one command; a
# draft (a re-run, or one made by hand) takes this build's ZIPs in place of
# older ones and the notes the new SHA-256. A published release's files never
# change: one that holds both ZIPs of this version stays as it is, and the job
# passes; one without them stops the job, saying what to do.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

fail() {
  echo "::error::$*" >&2
  exit 1
}

# The version in CMakeLists.txt's project() call.
project_version() {
  sed -n -E 's/^project\(ORVELPlugin VERSION ([0-9]+(\.[0-9]+)*)[ )].*/\1/p' "$here/CMakeLists.txt"
}

check_tag() {
  local tag=$1 version
  version=$(project_version)
  [ -n "$version" ] || fail "no project version found in CMakeLists.txt"
  [ "$tag" = "v$version" ] ||
    fail "tag $tag does not match the project's version $version (CMakeLists.txt): a release's tag is v$version; to release another version, change it in CMakeLists.txt first"
  echo "tag $tag matches the project's version $version"
}

attach() {
  local tag=$1 folder=$2 repo=${GITHUB_REPOSITORY:?}
  shopt -s nullglob
  local found=("$folder"/ORVELPlugin-*-win64.zip)
  [ ${#found[@]} -eq 1 ] ||
    fail "expected one ORVELPlugin-<version>-win64.zip in the build for users, found: $(ls "$folder" | tr '\n' ' ')"
  local version=${found[0]##*/ORVELPlugin-}
  version=${version%-win64.zip}
  [ "$tag" = "v$version" ] || fail "tag $tag does not match the version $version of the build for users"
  local zips=("$folder/ORVELPlugin-$version-win64.zip" "$folder/ORVELPlugin-$version-win64-symbols.zip")
  [ -f "${zips[1]}" ] || fail "the build for users has no ${zips[1]##*/}"
  ls -l "${zips[@]}"

  # No publicly trusted code-signing key can be used from here (they live on
  # hardware), so the DLL goes out unsigned and the notes say so, with the
  # ZIP's SHA-256 to check a download against.
  local hash unsigned
  hash=$(sha256sum "${zips[0]}" | cut -d' ' -f1)
  unsigned="ORVELPlugin.dll in ORVELPlugin-$version-win64.zip is not code-signed: Windows may call its publisher unknown. SHA-256 of ORVELPlugin-$version-win64.zip: $hash"

  # gh's error output is kept apart from its answer.
  local answer
  errors=$(mktemp)
  trap 'rm -f "$errors"' EXIT
  if ! answer=$(gh release view "$tag" --repo "$repo" --json isDraft --jq .isDraft 2>"$errors"); then
    grep -q "release not found" "$errors" || fail "cannot look up the release $tag: $(cat "$errors")"
    gh release create "$tag" "${zips[@]}" --repo "$repo" --draft --verify-tag \
      --title "ORVELPlugin $version" --notes "$unsigned" --generate-notes
    echo "drafted the release $tag with ${zips[*]##*/}; it is not published. Download ${zips[0]##*/} from the draft, check its SHA-256 against the notes, try it in CLO 3D, then publish the draft."
    return
  fi

  [ "$answer" = "true" ] || [ "$answer" = "false" ] ||
    fail "cannot tell whether the release $tag is a draft: gh answered \"$answer\""
  if [ "$answer" = "true" ]; then
    # The draft's notes keep their text; a line of this kind from an earlier
    # run (an older ZIP's SHA-256) is replaced. The notes change only after
    # the ZIPs they describe are in place.
    local body notes=$unsigned
    body=$(gh release view "$tag" --repo "$repo" --json body --jq .body)
    body=$(grep -vF "is not code-signed: Windows may call its publisher unknown" <<<"$body" | sed '/./,$!d' || true)
    [ -z "$body" ] || notes+=$'\n\n'"$body"
    gh release upload "$tag" "${zips[@]}" --repo "$repo" --clobber
    gh release edit "$tag" --repo "$repo" --notes "$notes"
    echo "the release $tag is a draft: it now holds this run's ${zips[*]##*/}, and its notes give the SHA-256 of ${zips[0]##*/}. A ZIP tried before this run is another build: download ${zips[0]##*/} again, check its SHA-256 against the notes, try it in CLO 3D, then publish the draft."
    return
  fi

  # Published. The API finds published releases by tag (drafts it does not):
  # the first line says whether the release is immutable, the others name the
  # files GitHub holds whole.
  local names immutable missing=()
  if ! answer=$(gh api "repos/$repo/releases/tags/$tag" \
    --jq '(.immutable == true), (.assets[] | select(.state == "uploaded") | .name)' 2>"$errors"); then
    fail "cannot look up the published release $tag: $(cat "$errors")"
  fi
  immutable=$(head -n 1 <<<"$answer")
  names=$(tail -n +2 <<<"$answer")
  local zip
  for zip in "${zips[@]##*/}"; do
    grep -qxF "$zip" <<<"$names" || missing+=("$zip")
  done
  if [ ${#missing[@]} -eq 0 ]; then
    echo "the release $tag is published with ${zips[*]##*/}: its files stay as they are, and this run's build is not released."
    return
  fi
  if [ "$immutable" = "true" ]; then
    fail "the release $tag is published and immutable without ${missing[*]}: GitHub takes no more files for it, and its tag cannot be given to another release. Its files stay as they are. To release this build, raise the version in CMakeLists.txt and push the tag of the new version."
  fi
  fail "the release $tag is published without ${missing[*]}: this job gives a published release no files, as users would get them untried. Make it a draft again (Edit release, Save as draft) and re-run the job; then try the draft's ZIP in CLO 3D and publish it."
}

case ${1:-} in
  check-tag) [ $# -eq 2 ] || fail "usage: $0 check-tag TAG"; check_tag "$2" ;;
  attach) [ $# -eq 3 ] || fail "usage: $0 attach TAG FOLDER"; attach "$2" "$3" ;;
  *) fail "usage: $0 check-tag TAG | attach TAG FOLDER" ;;
esac
