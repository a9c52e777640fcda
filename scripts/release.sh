#!/usr/bin/env bash
# Builds the release of the checked-out commit and writes it to DIST (default: dist/ in the
# checkout):
#   hotfix-launcher-<version>-win32.zip   the 32-bit Windows launcher and preflight, an annotated
#                                         Installer.ini, README.md, CHANGELOG.md, LICENSE, docs/
#   hotfix-launcher_<version>_<arch>.deb  the Linux port, made by CPack from the install rules
#   hotfix-launcher-<version>.tar.gz      the Ansible collection hotfix.launcher: the rollout role,
#                                         its playbooks, an example inventory, requirements.yml
#   SHA256SUMS                            the checksums of the releases in DIST
#   SHA256SUMS.asc                        its detached OpenPGP signature (with --gpg-key)
#
#   scripts/release.sh [--snapshot] [--jobs N] [--maintainer 'NAME <ADDRESS>']
#     [--sign-pkcs12 FILE [--sign-password-file FILE]] [--timestamp-url URL] [--gpg-key ID] [DIST]
#   scripts/release.sh --help
#
# One commit gives the same bytes from any folder at any time: SOURCE_DATE_EPOCH (the commit's
# time unless it is set) dates every file and stamps the PE headers, and the build maps its
# folders out of the programs. Only the commit tagged v<version> is released, and a tree with
# uncommitted changes is refused, unless --snapshot is given; a snapshot's version carries
# +<commit>, and .dirty for uncommitted changes. A tag vX.Y.Z on the commit must name the
# project's version. Another version's files in DIST stay; this version's are replaced.
# --sign-pkcs12 gives both Windows programs an Authenticode signature (SHA-256, and an RFC 3161
# time stamp from --timestamp-url); the PKCS#12 file's password comes from --sign-password-file
# or the variable HOTFIX_SIGN_PASSWORD, never from the command line. scripts/verify-release.sh
# rebuilds a release and compares it with this one's files.
set -euo pipefail
options=(
  "--snapshot                     an untagged or uncommitted release, as <version>+<commit>[.dirty]"
  "--jobs N                       parallel build jobs (default: the number of processors)"
  "--maintainer 'NAME <ADDRESS>'  the Debian package's maintainer"
  "--sign-pkcs12 FILE             sign both Windows programs (Authenticode) with this PKCS#12 file"
  "--sign-password-file FILE      a file with the PKCS#12 password (or set HOTFIX_SIGN_PASSWORD)"
  "--timestamp-url URL            an RFC 3161 time stamp server for the Authenticode signatures"
  "--gpg-key ID                   sign SHA256SUMS with this OpenPGP key (SHA256SUMS.asc)"
  "-h, --help                     print this help and exit"
)
usage() {
  echo "release.sh: $*" >&2
  echo "usage: $0 [--snapshot] [--jobs N] [--maintainer 'NAME <ADDRESS>'] [--sign-pkcs12 FILE" \
    "[--sign-password-file FILE]] [--timestamp-url URL] [--gpg-key ID] [DIST]" \
    "(--help tells more)" >&2
  exit 64
}
print_help() {
  echo "usage: $0 [OPTION]... [DIST]"
  echo "Builds the release of the checked-out commit into DIST (default: dist/ in the checkout)."
  printf '  %s\n' "${options[@]}"
  exit 0
}
fail() {
  echo "release.sh: $*" >&2
  exit 1
}
# An option's file, as an absolute path, since the script works from the checkout.
absolute() {
  [[ "$1" == /* ]] && echo "$1" || echo "$PWD/$1"
}

snapshot=0 jobs=$(nproc) maintainer="" pkcs12="" password_file="" timestamp_url="" gpg_key="" dist=""
while [ $# -gt 0 ]; do
  case $1 in
    -h | --help) print_help ;;
    --snapshot) snapshot=1 ;;
    --jobs | --maintainer | --sign-pkcs12 | --sign-password-file | --timestamp-url | --gpg-key)
      [ $# -ge 2 ] || usage "$1 needs a value"
      case $1 in
        --jobs) [[ "$2" =~ ^[1-9][0-9]*$ ]] || usage "--jobs needs a number from 1 up"; jobs=$2 ;;
        --maintainer) maintainer=$2 ;;
        --sign-pkcs12) pkcs12=$(absolute "$2") ;;
        --sign-password-file) password_file=$(absolute "$2") ;;
        --timestamp-url) timestamp_url=$2 ;;
        --gpg-key) gpg_key=$2 ;;
      esac
      shift
      ;;
    -*) usage "unknown option $1" ;;
    *) [ -z "$dist" ] || usage "one DIST only"; dist=$(absolute "$1") ;;
  esac
  shift
done
[ -n "$pkcs12" ] || [ -z "$password_file$timestamp_url" ] ||
  usage "--sign-password-file and --timestamp-url go with --sign-pkcs12"
for file in "$pkcs12" "$password_file"; do
  [ -z "$file" ] || [ -r "$file" ] || fail "cannot read $file"
done

cd "$(dirname "$0")/.."
checkout=$PWD
dist=${dist:-$checkout/dist}
git rev-parse --is-inside-work-tree >/dev/null 2>&1 || fail "$checkout is not a git checkout"

# What is released: the project's version, checked against the commit's tag, its notes and the
# state of the tree.
version=$(sed -n -E 's/^project\(hotfix_launcher VERSION ([0-9]+\.[0-9]+\.[0-9]+)[ )].*/\1/p' \
  CMakeLists.txt)
[ -n "$version" ] || fail "no project(hotfix_launcher VERSION x.y.z) in CMakeLists.txt"
for tag in $(git tag --points-at HEAD --list 'v[0-9]*'); do
  [ "$tag" = "v$version" ] ||
    fail "the commit carries the tag $tag, but the project's version is $version"
done
grep -q -E "^## $version \(" CHANGELOG.md || fail "CHANGELOG.md has no notes for $version"
suffix=""
if [ -n "$(git status --porcelain)" ]; then
  [ "$snapshot" -eq 1 ] || fail "the tree has uncommitted changes (git status): commit them, or" \
    "make a --snapshot"
  suffix=+$(git rev-parse --short HEAD).dirty
elif [ "$snapshot" -eq 1 ]; then
  suffix=+$(git rev-parse --short HEAD)
fi
# A release is the commit its tag names: an untagged commit, or a tag left on an earlier commit
# by a forgotten version bump, would give a second, different release of the same version.
if [ "$snapshot" -eq 0 ]; then
  tagged=$(git rev-parse -q --verify "refs/tags/v$version^{commit}") ||
    fail "the commit is not tagged v$version: tag it (git tag -a v$version) to release it, or" \
      "make a --snapshot"
  [ "$tagged" = "$(git rev-parse HEAD)" ] ||
    fail "v$version names the commit $(git rev-parse --short "$tagged"), not this one: a new" \
      "release needs a new version in project(... VERSION) of CMakeLists.txt; or make a --snapshot"
fi
version=$version$suffix
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
[[ "$SOURCE_DATE_EPOCH" =~ ^[0-9]+$ ]] || fail "SOURCE_DATE_EPOCH is not a number of seconds"
# Times in UTC, the C locale's order, and the same modes whatever the caller's umask.
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C
umask 022

scripts/install-deps.sh --release
staging=$(mktemp -d)
trap 'rm -rf "$staging"' EXIT
# Signs the file $1 into $2 (more osslsigncode options after them) with the PKCS#12 file, whose
# password comes from --sign-password-file, HOTFIX_SIGN_PASSWORD or nowhere.
authenticode() {
  local signing=(sign -pkcs12 "$pkcs12" -h sha256 -n hotfix-launcher -in "$1" -out "$2" "${@:3}")
  if [ -n "$password_file" ]; then
    osslsigncode "${signing[@]}" -readpass "$password_file"
  elif [ -n "${HOTFIX_SIGN_PASSWORD+set}" ]; then
    osslsigncode "${signing[@]}" -readpass /dev/stdin <<<"$HOTFIX_SIGN_PASSWORD"
  else
    osslsigncode "${signing[@]}"
  fi >"$staging/sign.log" 2>&1
}
# The PKCS#12 file and its password are tried on a tiny Windows program before the build (every
# osslsigncode signs programs; Debian 12's signs no scripts), so that a missing or wrong password
# stops the release at once, naming where the password comes from.
if [ -n "$pkcs12" ]; then
  printf 'int main(void) { return 0; }\n' >"$staging/check.c"
  i686-w64-mingw32-gcc-posix -o "$staging/check.exe" "$staging/check.c"
  if ! authenticode "$staging/check.exe" "$staging/signed.exe"; then
    cat "$staging/sign.log" >&2
    grep -q 'Wrong password' "$staging/sign.log" || fail "$pkcs12 cannot sign"
    [ -n "$password_file" ] || [ -n "${HOTFIX_SIGN_PASSWORD+set}" ] ||
      fail "$pkcs12 needs a password: give it with --sign-password-file FILE or the variable" \
        "HOTFIX_SIGN_PASSWORD"
    [ -z "$password_file" ] ||
      fail "the password in $password_file (--sign-password-file) does not open $pkcs12"
    fail "the password in the variable HOTFIX_SIGN_PASSWORD does not open $pkcs12" \
      "(--sign-password-file FILE gives it from a file instead)"
  fi
fi
# The Ansible collection hotfix.launcher: deploy/ansible's files as git sees them (tracked, and new
# ones it does not ignore) and the licence, with a galaxy.yml of this version, built by
# ansible-galaxy, then re-packed so that its bytes depend on those files alone (scripts/ansible-collection.py).
collection=hotfix-launcher-$version.tar.gz
mkdir "$staging/collection"
(cd deploy/ansible && git ls-files -z --cached --others --exclude-standard |
  while IFS= read -r -d '' file; do [ ! -e "$file" ] || printf '%s\0' "$file"; done |
  tar --null -T - -cf -) | tar -C "$staging/collection" -xf -
cp LICENSE "$staging/collection/"
python3 scripts/ansible-collection.py prepare "$staging/collection" "$version"
# Ansible runs only in a UTF-8 locale.
LC_ALL=C.UTF-8 ansible-galaxy collection build --output-path "$staging" "$staging/collection" \
  >"$staging/galaxy.log" 2>&1 || { cat "$staging/galaxy.log" >&2; fail "ansible-galaxy failed"; }
[ -f "$staging/$collection" ] || fail "ansible-galaxy made no $collection"
python3 scripts/ansible-collection.py repack "$staging/$collection" "$SOURCE_DATE_EPOCH"
configure=(--fresh -DHOTFIX_BUILD_TESTS=OFF "-DHOTFIX_VERSION_SUFFIX=$suffix")
[ -z "$maintainer" ] || configure+=("-DHOTFIX_PACKAGE_MAINTAINER=$maintainer")
build() {
  local preset=$1
  shift
  { cmake --preset "$preset" -B "build/release/$preset" "${configure[@]}" &&
    cmake --build "build/release/$preset" -j "$jobs" --target "$@"; } >"$staging/build.log" 2>&1 ||
    { tail -n 40 "$staging/build.log" >&2; fail "the $preset build failed"; }
}
build linux hotfix-launcher hotfix-preflight example_installer man_pages package_changelog
build windows-x86 hotfix-launcher hotfix-preflight
built=$(build/release/linux/hotfix-preflight --version)
[ "$built" = "hotfix-preflight $version" ] || fail "the build says '$built', not $version"

# The zip: the programs, signed when asked, and the documents, packed by
# scripts/reproducible-zip.sh.
name=hotfix-launcher-$version-win32
zip=$name.zip
folder=$staging/$name
mkdir -p "$folder/docs/guides"
for program in hotfix-launcher hotfix-preflight; do
  if [ -z "$pkcs12" ]; then
    cp "build/release/windows-x86/$program.exe" "$folder/"
  else
    authenticode "build/release/windows-x86/$program.exe" "$folder/$program.exe" \
      ${timestamp_url:+-ts "$timestamp_url"} ||
      { cat "$staging/sign.log" >&2; fail "signing $program.exe failed"; }
  fi
done
cp README.md CHANGELOG.md LICENSE "$folder/"
cp examples/template/Installer.ini "$folder/"
cp docs/*.md "$folder/docs/"
cp docs/guides/*.md "$folder/docs/guides/"
scripts/reproducible-zip.sh "$folder"

(cd "$staging" && cpack -G DEB --config "$checkout/build/release/linux/CPackConfig.cmake" \
  -B "$staging/deb" >"$staging/cpack.log" 2>&1) ||
  { cat "$staging/cpack.log" >&2; fail "cpack failed"; }
deb=$(cd "$staging/deb" && echo hotfix-launcher_*.deb)
[ -f "$staging/deb/$deb" ] || fail "cpack made no package"
mv "$staging/deb/$deb" "$staging/"

releases=("$zip" "$deb" "$collection")

# SHA256SUMS keeps the lines of the other files still in DIST and takes this release's, sorted by
# name; its signature is made before anything in DIST changes.
if [ -f "$dist/SHA256SUMS" ]; then
  while read -r sum file; do
    [[ " ${releases[*]} " == *" $file "* ]] || [ ! -e "$dist/$file" ] || echo "$sum  $file"
  done <"$dist/SHA256SUMS" >"$staging/SHA256SUMS"
fi
(cd "$staging" && sha256sum "${releases[@]}" >>SHA256SUMS && sort -k 2 -o SHA256SUMS SHA256SUMS)
if [ -n "$gpg_key" ]; then
  gpg --batch --yes --local-user "$gpg_key" --digest-algo SHA256 --armor --detach-sign \
    --output "$staging/SHA256SUMS.asc" "$staging/SHA256SUMS" 2>"$staging/gpg.log" ||
    { cat "$staging/gpg.log" >&2; fail "signing SHA256SUMS failed"; }
fi

mkdir -p "$dist"
(cd "$staging" && mv "${releases[@]}" SHA256SUMS "$dist/")
if [ -n "$gpg_key" ]; then
  mv "$staging/SHA256SUMS.asc" "$dist/"
elif [ -e "$dist/SHA256SUMS.asc" ]; then
  rm "$dist/SHA256SUMS.asc"
  echo "removed $dist/SHA256SUMS.asc: it signed the SHA256SUMS this release replaced" >&2
fi
echo "release $version in $dist:"
awk -v names=" ${releases[*]} " 'index(names, " " $2 " ")' "$dist/SHA256SUMS"
