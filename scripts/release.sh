#!/usr/bin/env bash
# Builds the release from the version in CMakeLists.txt and writes it to DIST (default dist/):
#   hotfix-launcher-<version>-win32.zip   the 32-bit Windows launcher and preflight, an annotated
#                                         Installer.ini, README.md and docs/
#   hotfix-launcher_<version>_<arch>.deb  the Linux port, made by CPack from the install rules
#   SHA256SUMS                            of both, printed at the end
#   scripts/release.sh [DIST]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
checkout=$PWD
dist=${1:-dist}
mkdir -p "$dist"
dist=$(cd "$dist" && pwd)
jobs=$(nproc)

for preset in linux windows-x86; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs" --target hotfix-launcher hotfix-preflight \
    example_installer >/dev/null
done
cmake --build --preset linux --target man_pages >/dev/null
version=$(build/linux/hotfix-preflight --version | cut -d' ' -f2)

rm -f "$dist"/hotfix-launcher-*-win32.zip "$dist"/hotfix-launcher_*.deb "$dist/SHA256SUMS"
staging=$(mktemp -d)
trap 'rm -rf "$staging"' EXIT

zip=hotfix-launcher-$version-win32.zip
folder=$staging/hotfix-launcher-$version-win32
mkdir -p "$folder/docs"
cp build/windows-x86/hotfix-launcher.exe build/windows-x86/hotfix-preflight.exe README.md "$folder/"
cp examples/template/Installer.ini "$folder/"
cp docs/*.md "$folder/docs/"
(cd "$staging" && cmake -E tar cf "$dist/$zip" --format=zip "hotfix-launcher-$version-win32")

(cd "$staging" && cpack -G DEB --config "$checkout/build/linux/CPackConfig.cmake" -B "$staging/deb" \
  >"$staging/cpack.log") || { cat "$staging/cpack.log" >&2; exit 1; }
deb=$(basename "$staging"/deb/hotfix-launcher_*.deb)
mv "$staging/deb/$deb" "$dist/"

(cd "$dist" && sha256sum "$zip" "$deb" >SHA256SUMS)
echo "release $version in $dist:"
cat "$dist/SHA256SUMS"
