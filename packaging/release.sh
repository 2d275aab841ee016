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
# tries it in CLO 3D and, just before publishing, checks that its SHA-256 is
# the one in the notes and GitHub's digest of the draft's file, so that users
# get the DLL that was tried. The notes' line with the SHA-256 is the mark of
# a complete draft: it is taken out before the draft's files change and
# written last, once both ZIPs are in place, so a run that fails or is
# cancelled on the way leaves a draft whose notes give no SHA-256. A release
# that does not exist yet is created as an empty draft and filled the same
# way. A published release's files never change, and it is never made a draft
# again: one that holds both ZIPs of this version stays as it is, and the job
# passes; one without them stops the job, saying to release a new version.
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
  local hash line mark="is not code-signed: Windows may call its publisher unknown"
  hash=$(sha256sum "${zips[0]}" | cut -d' ' -f1)
  line="ORVELPlugin.dll in ORVELPlugin-$version-win64.zip $mark. SHA-256 of ORVELPlugin-$version-win64.zip: $hash"

  # gh's error output is kept apart from its answer.
  local answer new=false
  errors=$(mktemp)
  trap 'rm -f "$errors"' EXIT
  if ! answer=$(gh release view "$tag" --repo "$repo" --json isDraft --jq .isDraft 2>"$errors"); then
    grep -q "release not found" "$errors" || fail "cannot look up the release $tag: $(cat "$errors")"
    gh release create "$tag" --repo "$repo" --draft --verify-tag --title "ORVELPlugin $version" --generate-notes
    answer=true new=true
  fi

  [ "$answer" = "true" ] || [ "$answer" = "false" ] ||
    fail "cannot tell whether the release $tag is a draft: gh answered \"$answer\""
  if [ "$answer" = "true" ]; then
    # The draft's notes keep their text; only the line of this kind goes
    # (with an earlier build's SHA-256), before the ZIPs are replaced, and
    # this build's comes back after both are in place.
    local body
    body=$(gh release view "$tag" --repo "$repo" --json body --jq .body)
    if grep -qF "$mark" <<<"$body"; then
      body=$(grep -vF "$mark" <<<"$body" | sed '/./,$!d' || true)
      gh release edit "$tag" --repo "$repo" --notes "$body"
    fi
    gh release upload "$tag" "${zips[@]}" --repo "$repo" --clobber
    gh release edit "$tag" --repo "$repo" --notes "$line${body:+$'\n\n'$body}"
    local check="Download ${zips[0]##*/} from the draft, try it in CLO 3D, and just before publishing check that its SHA-256 is the one in the notes and GitHub's digest of the draft's file."
    if [ "$new" = true ]; then
      echo "drafted the release $tag with ${zips[*]##*/}; it is not published. $check"
    else
      echo "the release $tag is a draft: it now holds this run's ${zips[*]##*/}, and its notes give the SHA-256 of ${zips[0]##*/}. A ZIP tried before this run may be another build. $check"
    fi
    return
  fi

  # Published. The API finds published releases by tag (drafts it does not),
  # naming the files GitHub holds whole.
  local names missing=()
  names=$(gh api "repos/$repo/releases/tags/$tag" --jq '.assets[] | select(.state == "uploaded") | .name' 2>"$errors") ||
    fail "cannot look up the published release $tag: $(cat "$errors")"
  local zip
  for zip in "${zips[@]##*/}"; do
    grep -qxF "$zip" <<<"$names" || missing+=("$zip")
  done
  if [ ${#missing[@]} -eq 0 ]; then
    echo "the release $tag is published with ${zips[*]##*/}: its files stay as they are, and this run's build is not released."
    return
  fi
  # Mutable or immutable alike, a published release is not made a draft
  # again: a draft's files are replaced, and users may already have them.
  fail "the release $tag is published without ${missing[*]}: this job gives a published release no files, and its files stay as they are. To release, raise the version in CMakeLists.txt, commit, and push the tag of the new version."
}

case ${1:-} in
  check-tag) [ $# -eq 2 ] || fail "usage: $0 check-tag TAG"; check_tag "$2" ;;
  attach) [ $# -eq 3 ] || fail "usage: $0 attach TAG FOLDER"; attach "$2" "$3" ;;
  *) fail "usage: $0 check-tag TAG | attach TAG FOLDER" ;;
esac
