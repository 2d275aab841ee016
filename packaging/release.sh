#!/usr/bin/env bash
# The release job's two steps, run by .github/workflows/push.yaml with the
# GitHub CLI (gh) and GITHUB_REPOSITORY set:
#
#   packaging/release.sh check-tag TAG
#       stops unless TAG is v<the project's version> (CMakeLists.txt), before
#       anything is built;
#   packaging/release.sh attach TAG FOLDER
#       gives the tag's release the build for users in FOLDER (the user's ZIP
#       and the symbols ZIP, nothing else), with a note that the DLL is not
#       code-signed and the user's ZIP's SHA-256.
#
# A release that does not exist yet is created with its ZIPs in one command
# (gh uploads them to a draft and then publishes it), so that a repository
# with immutable releases never gets a published release without them. A
# release that exists already takes the ZIPs in place of older ones, unless
# it is published and immutable: then GitHub takes no file for it, and the
# job stops saying so and what to do.
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

  local answer draft
  if ! answer=$(gh release view "$tag" --repo "$repo" --json isDraft --jq .isDraft 2>&1); then
    case $answer in
      *"not found"*) ;;
      *) fail "cannot look up the release $tag: $answer" ;;
    esac
    gh release create "$tag" "${zips[@]}" --repo "$repo" --verify-tag \
      --title "ORVELPlugin $version" --notes "$unsigned" --generate-notes
    echo "released $tag with ${zips[*]##*/}"
    return
  fi
  draft=$answer
  # A draft is never immutable; the API finds only published releases by tag.
  if [ "$draft" != "true" ] &&
    [ "$(gh api "repos/$repo/releases/tags/$tag" --jq '.immutable == true')" = "true" ]; then
    fail "the release $tag is published and immutable: GitHub takes no more files for it, and its tag cannot be given to another release. Its files stay as they are. To release this build, raise the version in CMakeLists.txt and push the tag of the new version."
  fi
  # An existing release's notes keep their text; a line of this kind from an
  # earlier run (an older ZIP's hash) is replaced.
  local body
  body=$(gh release view "$tag" --repo "$repo" --json body --jq .body |
    grep -vF "is not code-signed: Windows may call its publisher unknown" || true)
  gh release edit "$tag" --repo "$repo" --notes "$unsigned"$'\n\n'"$body"
  gh release upload "$tag" "${zips[@]}" --repo "$repo" --clobber
  if [ "$draft" = "true" ]; then
    echo "the release $tag is a draft: its ZIPs are attached; publish it on GitHub when it is ready"
  else
    echo "updated the release $tag with ${zips[*]##*/}"
  fi
}

case ${1:-} in
  check-tag) [ $# -eq 2 ] || fail "usage: $0 check-tag TAG"; check_tag "$2" ;;
  attach) [ $# -eq 3 ] || fail "usage: $0 attach TAG FOLDER"; attach "$2" "$3" ;;
  *) fail "usage: $0 check-tag TAG | attach TAG FOLDER" ;;
esac
