#!/usr/bin/env bash
# Packs FOLDER into FOLDER.zip beside it as a release's zip: the folder and everything in it, its
# entries sorted, dated SOURCE_DATE_EPOCH (in UTC), modes 755 for folders and 644 for files, and
# no owner or extended-time fields. The same files give the same bytes whoever packs them, where
# and when: scripts/release.sh packs its zip so, and scripts/verify-release.sh packs a rebuilt
# zip again with the released programs in it.
#
#   SOURCE_DATE_EPOCH=SECONDS scripts/reproducible-zip.sh FOLDER
set -euo pipefail
[ $# -eq 1 ] && [ -d "$1" ] || { echo "usage: $0 FOLDER" >&2; exit 64; }
[[ "${SOURCE_DATE_EPOCH:-}" =~ ^[0-9]+$ ]] ||
  { echo "reproducible-zip.sh: SOURCE_DATE_EPOCH is not a number of seconds" >&2; exit 64; }
parent=$(dirname "$1") name=$(basename "$1")
find "$1" -type d -exec chmod 755 {} +
find "$1" -type f -exec chmod 644 {} +
find "$1" -exec touch -d "@$SOURCE_DATE_EPOCH" {} +
rm -f "$parent/$name.zip"
(cd "$parent" && find "$name" | LC_ALL=C sort | TZ=UTC zip -X -q -@ "$name.zip")
