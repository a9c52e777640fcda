#!/usr/bin/env bash
# Checks a release in DIST by building it again: the release of version X.Y.Z is rebuilt from the
# tag vX.Y.Z, a snapshot's X.Y.Z+<commit> from that commit, in a temporary clone of this
# checkout's repository, by that commit's scripts/release.sh (with the .deb's maintainer, and
# SOURCE_DATE_EPOCH when it is set, as the release was made). Then every file of the version in
# DIST must be the rebuilt one byte for byte. The zip's programs may carry Authenticode signatures
# on top: each signed program without its signature (osslsigncode remove-signature) must be the
# rebuilt program, and the zip must be the rebuilt zip packed again with the signed programs in
# it, so that nothing but the signatures is new. It also checks SHA256SUMS against DIST's files
# and, when SHA256SUMS.asc is there, its signature with gpg (the release key imported).
#
#   scripts/verify-release.sh [--jobs N] DIST [VERSION]
#
# VERSION is needed when DIST holds more than one. It says which files differ (diffoscope's first
# lines for each, when it is installed) and exits with 0 only when everything matches; 1 when
# something differs or cannot be checked; 64 for a usage error.
set -euo pipefail
usage() {
  echo "verify-release.sh: $*" >&2
  echo "usage: $0 [--jobs N] DIST [VERSION]" >&2
  exit 64
}
fail() {
  echo "verify-release.sh: $*" >&2
  exit 1
}
jobs=$(nproc) arguments=()
while [ $# -gt 0 ]; do
  case $1 in
    -h | --help)
      sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'
      exit 0
      ;;
    --jobs)
      [ $# -ge 2 ] || usage "--jobs needs a value"
      jobs=$2
      shift
      ;;
    -*) usage "unknown option $1" ;;
    *) arguments+=("$1") ;;
  esac
  shift
done
[ ${#arguments[@]} -ge 1 ] && [ ${#arguments[@]} -le 2 ] || usage "DIST and at most a VERSION"
dist=$(cd "${arguments[0]}" 2>/dev/null && pwd) || usage "${arguments[0]} is not a folder"
version=${arguments[1]:-}
[[ "$jobs" =~ ^[1-9][0-9]*$ ]] || usage "--jobs needs a number from 1 up"
[ -f "$dist/SHA256SUMS" ] || fail "$dist has no SHA256SUMS"
checkout=$(cd "$(dirname "$0")/.." && pwd)

# The versions in DIST, from the names of the releases its SHA256SUMS lists.
version_of() {
  sed -n -E -e 's/^hotfix-launcher-(.+)-win32\.zip$/\1/p' \
    -e 's/^hotfix-launcher_(.+)_[^_]+\.deb$/\1/p' -e 's/^hotfix-launcher-(.+)\.tar\.gz$/\1/p'
}
listed=$(awk '{ print $2 }' "$dist/SHA256SUMS")
versions=$(version_of <<<"$listed" | sort -u)
if [ -z "$version" ]; then
  [ -n "$versions" ] || fail "$dist/SHA256SUMS lists no release"
  [ "$(wc -l <<<"$versions")" -eq 1 ] ||
    usage "$dist holds the versions $(echo $versions): name one"
  version=$versions
fi
grep -q -x -F "$version" <<<"$versions" || fail "$dist/SHA256SUMS lists no release $version"
[[ "$version" != *.dirty ]] ||
  fail "$version was built from uncommitted changes (.dirty): no commit gives it again"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
clone=$tmp/source
git clone -q "$checkout" "$clone"
release=(--jobs "$jobs")
if [[ "$version" == *+* ]]; then
  source_ref=${version#*+}
  commit=$(git -C "$clone" rev-parse -q --verify "$source_ref^{commit}") ||
    fail "no commit $source_ref in $checkout: fetch it first"
  release+=(--snapshot)
else
  source_ref=v$version
  commit=$(git -C "$clone" rev-parse -q --verify "refs/tags/$source_ref^{commit}") ||
    fail "no tag $source_ref in $checkout: fetch it first (git fetch --tags)"
fi
git -C "$clone" checkout -q --detach "$commit"
# The package's maintainer is the release's choice: the rebuild takes it from DIST's .deb (a
# package whose control part cannot be read is rebuilt with the default, and differs).
deb=$(cd "$dist" && ls hotfix-launcher_"$version"_*.deb 2>/dev/null | head -n 1) || true
maintainer=$([ -z "$deb" ] || dpkg-deb -f "$dist/$deb" Maintainer 2>/dev/null) || maintainer=""
[ -z "$maintainer" ] || release+=(--maintainer "$maintainer")
echo "rebuilding $version from $source_ref ($commit) in $clone"
(cd "$clone" && scripts/release.sh "${release[@]}" "$tmp/rebuilt") >"$tmp/release.log" 2>&1 ||
  { tail -n 40 "$tmp/release.log" >&2; fail "the rebuild failed"; }
rebuilt=$(awk '{ print $2 }' "$tmp/rebuilt/SHA256SUMS")
grep -q -F "hotfix-launcher-$version-win32.zip" <<<"$rebuilt" ||
  fail "the rebuild made $(echo $rebuilt), not the release $version"

problems=0
differs() {
  echo "DIFFERS  $1: $2"
  problems=$((problems + 1))
  if command -v diffoscope >/dev/null && [ -f "${3:-}" ] && [ -f "${4:-}" ]; then
    diffoscope --text - "$3" "$4" 2>/dev/null | head -n 20 | sed 's/^/         /' || true
  fi
}
# A zip whose programs differ from the rebuild's: their signatures removed, they must be the
# rebuilt programs, and the rebuilt zip packed again with them must be the zip itself.
compare_zip() {
  local zip=$1 folder=${1%.zip} signed=0 program
  mkdir "$tmp/released" "$tmp/repacked"
  (cd "$tmp/released" && cmake -E tar xf "$dist/$zip") >/dev/null 2>&1 ||
    { differs "$zip" "not a zip that unpacks"; return; }
  (cd "$tmp/repacked" && cmake -E tar xf "$tmp/rebuilt/$zip")
  for program in "$tmp/repacked/$folder"/*.exe; do
    local released=$tmp/released/$folder/${program##*/}
    [ -f "$released" ] || { differs "$zip" "it lacks ${program##*/}"; return; }
    cmp -s "$released" "$program" && continue
    # A program that has no signature to remove is compared as it is.
    osslsigncode remove-signature -in "$released" -out "$tmp/unsigned.exe" >/dev/null 2>&1 ||
      cp "$released" "$tmp/unsigned.exe"
    cmp -s "$tmp/unsigned.exe" "$program" ||
      { differs "$zip" "${program##*/} is not the rebuilt program, signature or not" \
        "$program" "$tmp/unsigned.exe"; return; }
    rm "$tmp/unsigned.exe"
    cp "$released" "$program"
    signed=$((signed + 1))
  done
  SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$clone" log -1 --format=%ct)} \
    "$clone/scripts/reproducible-zip.sh" "$tmp/repacked/$folder"
  if cmp -s "$tmp/repacked/$zip" "$dist/$zip"; then
    echo "same     $zip (its $signed signed programs are the rebuilt ones without their signatures)"
  else
    differs "$zip" "differs outside its programs' signatures" "$tmp/repacked/$zip" "$dist/$zip"
  fi
}
for file in $rebuilt; do
  if [ ! -f "$dist/$file" ]; then
    differs "$file" "missing from $dist"
  elif cmp -s "$dist/$file" "$tmp/rebuilt/$file"; then
    echo "same     $file"
  elif [[ "$file" == *.zip ]]; then
    compare_zip "$file"
  else
    differs "$file" "not the rebuilt file" "$tmp/rebuilt/$file" "$dist/$file"
  fi
done
for file in $listed; do
  [ "$(version_of <<<"$file")" != "$version" ] || grep -q -x -F "$file" <<<"$rebuilt" ||
    differs "$file" "listed in SHA256SUMS, but the rebuild makes no such file"
done

# The checksums of the version's files, and their signature.
sums=$(awk 'NR == FNR { wanted[$1]; next } $2 in wanted' <(echo "$rebuilt") "$dist/SHA256SUMS")
if [ "$(wc -l <<<"$sums")" -eq "$(wc -w <<<"$rebuilt")" ] &&
  (cd "$dist" && sha256sum --quiet -c - <<<"$sums" >/dev/null 2>&1); then
  echo "same     SHA256SUMS: its lines for $version match the files"
else
  differs SHA256SUMS "its lines for $version do not match the files, or some are missing"
fi
if [ -f "$dist/SHA256SUMS.asc" ]; then
  if gpg --verify "$dist/SHA256SUMS.asc" "$dist/SHA256SUMS" >"$tmp/gpg.log" 2>&1; then
    echo "good     SHA256SUMS.asc: $(grep -m 1 'Good signature' "$tmp/gpg.log" | sed 's/^gpg: //')"
  else
    differs SHA256SUMS.asc "gpg --verify fails (is the release key imported?):
$(sed 's/^/         /' "$tmp/gpg.log")"
  fi
else
  echo "unsigned SHA256SUMS: no SHA256SUMS.asc"
fi
if [ "$problems" -gt 0 ]; then
  fail "$version in $dist: $problems problems; it is not the release that $source_ref gives"
fi
echo "$version in $dist is the release that $source_ref gives, byte for byte"
