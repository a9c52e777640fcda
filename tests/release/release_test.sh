#!/usr/bin/env bash
# Makes the release with scripts/release.sh into WORK and checks what it holds: the zip's files,
# the Windows programs' import tables and version resources, and the .deb installed with dpkg in
# the clean Debian root of scripts/wine32-root.sh, where the example bundle then runs from the
# installed files. WORK must lie in the checkout, which the root sees at the same path.
#   release_test.sh WORK VERSION
set -euo pipefail
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Inside the root: install, run the example bundle in a prefix of its own, purge.
#   release_test.sh --in-root DEB TEMPLATE PREFIX VERSION
if [ "${1:-}" = --in-root ]; then
  deb=$2 template=$3 prefix=$4 version=$5
  # A run that was killed may have left the package behind.
  dpkg --purge hotfix-launcher >/dev/null 2>&1 || true
  trap 'dpkg --purge hotfix-launcher >/dev/null 2>&1 || true; rm -rf "$prefix"' EXIT
  dpkg -i "$deb" >/dev/null
  installed=$(dpkg -L hotfix-launcher)
  for file in /usr/lib/hotfix-launcher/hotfix-launcher /usr/lib/hotfix-launcher/hotfix-preflight \
    /usr/bin/hotfix-preflight /usr/share/man/man8/hotfix-launcher.8.gz \
    /usr/share/man/man8/hotfix-preflight.8.gz /usr/share/doc/hotfix-launcher/README.md \
    /usr/share/doc/hotfix-launcher/faults.md /usr/share/hotfix-launcher/examples/KB5001234/Installer.ini \
    /usr/share/hotfix-launcher/examples/KB5001234/server.reg \
    /usr/share/hotfix-launcher/examples/KB5001234/KB5001234.exe /var/lib/hotfix-launcher/drive_c; do
    grep -q -x -F "$file" <<<"$installed" || fail "the package does not ship $file"
  done
  [ -d /var/lib/hotfix-launcher/drive_c ] || fail "no default prefix drive_c after the install"
  [ "$(hotfix-preflight --version)" = "hotfix-preflight $version" ] ||
    fail "hotfix-preflight on PATH says $(hotfix-preflight --version)"

  # The bundle as the README lays it out, with the installed launcher copied in.
  examples=/usr/share/hotfix-launcher/examples/KB5001234
  bundle=$prefix/drive_c/hotfix/KB5001234
  rm -rf "$prefix"
  mkdir -p "$bundle" "$prefix/drive_c/Qor/server"
  cp /usr/lib/hotfix-launcher/hotfix-launcher "$bundle/setup"
  cp "$examples/KB5001234.exe" "$examples/Installer.ini" "$bundle/"
  cp "$examples/server.reg" "$prefix/HKLM.reg"
  export HOTFIX_LAUNCHER_PREFIX=$prefix

  # The zip's annotated template loads as the example's settings do: its comments are no keys.
  cp "$template" "$bundle/Installer.ini"
  status=0
  report=$(hotfix-preflight "$bundle") || status=$?
  [ "$status" -eq 0 ] || fail "preflight with the template: status $status"$'\n'"$report"
  grep -q -F 'RunParams=/quiet /mark' <<<"$report" && grep -q -F 'Installer.ini, loaded' <<<"$report" ||
    fail "the template's settings do not load:"$'\n'"$report"
  cp "$examples/Installer.ini" "$bundle/"
  status=0
  report=$(hotfix-preflight "$bundle") || status=$?
  [ "$status" -eq 0 ] || fail "preflight: status $status"$'\n'"$report"

  status=0
  "$bundle/setup" || status=$?
  [ "$status" -eq 0 ] || fail "the launcher exited with $status"
  log=$(tr -d '\r' <"$prefix/drive_c/QOR_Updates_InstallOS.log")
  [ "$(wc -l <<<"$log")" -eq 3 ] && grep -q 'QOR: New OS Patch' <<<"$log" &&
    grep -q -F 'Installing, KB5001234 KB5001234.exe /norestart /log:"c:\tmp.log" /quiet /mark' <<<"$log" ||
    fail "the run log is not the three banner records:"$'\n'"$log"
  [ "$(cat "$prefix/drive_c/Qor/server/patchinfo")" = $'KB5001234\r' ] ||
    fail "the patch-info file holds: $(cat -A "$prefix/drive_c/Qor/server/patchinfo")"

  # The installed launcher run where it was installed (a natural first command) has no bundle: one
  # line on standard error names the prefix, the status is 255, and nothing under the prefix
  # changes, in the bundle's prefix and in the default one, whose last installer log is kept.
  echo 'the last installer log' >/var/lib/hotfix-launcher/drive_c/tmp.log
  for setting in "HOTFIX_LAUNCHER_PREFIX=$prefix" ""; do
    where=${setting#*=}
    where=${where:-/var/lib/hotfix-launcher}
    before=$(find "$where" -printf '%p %y %s %T@ %C@\n' | sort)
    status=0
    said=$(env -u HOTFIX_LAUNCHER_PREFIX $setting /usr/lib/hotfix-launcher/hotfix-launcher --version \
      2>&1 >/dev/null) || status=$?
    [ "$status" -eq 255 ] || fail "the installed launcher, prefix $where: status $status"
    [ "$(wc -l <<<"$said")" -eq 1 ] && grep -q -F "prefix $where (HOTFIX_LAUNCHER_PREFIX)" <<<"$said" ||
      fail "the installed launcher, prefix $where, said: $said"
    [ "$(find "$where" -printf '%p %y %s %T@ %C@\n' | sort)" = "$before" ] ||
      fail "the installed launcher changed the prefix $where"
  done
  rm /var/lib/hotfix-launcher/drive_c/tmp.log

  # The root stays as it was: the purge takes the package and its empty drive_c.
  dpkg --purge hotfix-launcher >/dev/null
  ! dpkg-query -W hotfix-launcher >/dev/null 2>&1 || fail "hotfix-launcher is still installed"
  [ ! -e /var/lib/hotfix-launcher ] || fail "the purge left /var/lib/hotfix-launcher"
  echo "installed, ran the example bundle and purged in the root"
  exit 0
fi

work=$1 version=$2
checkout=$(cd "$(dirname "$0")/../.." && pwd)
[[ "$work/" == "$checkout/"* ]] || fail "$work lies outside the checkout $checkout"
rm -rf "$work"
mkdir -p "$work"
"$checkout/scripts/release.sh" "$work/dist" >"$work/release.log" 2>&1 ||
  { cat "$work/release.log" >&2; fail "scripts/release.sh failed"; }
cd "$work/dist"
zip=hotfix-launcher-$version-win32.zip
deb=hotfix-launcher_${version}_$(dpkg --print-architecture).deb
[ "$(ls | sort)" = "$(printf '%s\n' SHA256SUMS "$zip" "$deb" | sort)" ] ||
  fail "dist holds: $(ls)"
sha256sum --quiet -c SHA256SUMS || fail "SHA256SUMS does not match"
tail -n 2 "$work/release.log" | diff - SHA256SUMS >/dev/null || fail "release.sh did not print SHA256SUMS"

# The zip: the 32-bit programs, the template, README.md and docs/, in one folder.
folder=hotfix-launcher-$version-win32
expected=$( (printf '%s\n' "$folder/" "$folder/hotfix-launcher.exe" "$folder/hotfix-preflight.exe" \
  "$folder/Installer.ini" "$folder/README.md" "$folder/docs/"
  cd "$checkout" && ls docs/*.md | sed "s#^#$folder/#") | sort)
listed=$(cmake -E tar tf "$zip" | sort)
[ "$listed" = "$expected" ] || fail "the zip holds"$'\n'"$listed"$'\n'"instead of"$'\n'"$expected"
mkdir "$work/zip"
(cd "$work/zip" && cmake -E tar xf "../dist/$zip")
cmp "$work/zip/$folder/README.md" "$checkout/README.md" || fail "the zip's README.md differs"
for program in hotfix-launcher:gui hotfix-preflight:console; do
  exe=$work/zip/$folder/${program%%:*}.exe
  cmake -DOBJDUMP=i686-w64-mingw32-objdump -DPROGRAM="$exe" -DSUBSYSTEM="${program#*:}" \
    -P "$checkout/cmake/check-imports.cmake" >/dev/null
  i686-w64-mingw32-objdump -f "$exe" | grep -q 'file format pei-i386' || fail "$exe is not 32-bit"
  cmake -DPROGRAM="$exe" -DVERSION="$version" -P "$checkout/cmake/check-version-resource.cmake" >/dev/null
done

"$checkout/scripts/wine32-root.sh" run "$checkout/tests/release/release_test.sh" --in-root \
  "$work/dist/$deb" "$work/zip/$folder/Installer.ini" "$work/prefix" "$version"
echo "release $version: zip, .deb and checksums as expected"
