#!/usr/bin/env bash
# The release of scripts/release.sh as release engineers and administrators meet it. The source
# tree's commit is cloned into two temporary folders outside it, tagged v<version> there, and
# released in each, one after the other, with another umask, time zone and locale: the files must
# be byte for byte the same (diffoscope shows the first that differs). Then: the zip's entries and
# programs, time stamps from the commit, lintian's verdict on the .deb; the Ansible collection
# installed, its playbook syntax-checked and rolled out to a simulated host with the .deb's
# programs; the gates (--help, an untagged commit, a tag on another commit, a dirty tree, a tag of
# another version, another version's files in DIST, a missing or wrong signing password); a
# release signed with a throwaway CA's code-signing certificate and a throwaway OpenPGP key,
# checked with osslsigncode and gpg, and by scripts/verify-release.sh, which must also find a
# flipped byte in each file; and the .deb installed, run and purged in a clean Debian root
# (scripts/clean-root.sh).
#   release_test.sh WORK VERSION
set -euo pipefail
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Inside the clean root: install and purge unused, then install, check that the Depends bring every
# library the programs load, run the example as hotfix-launcher(8) shows it, purge, and check that
# exactly the default prefix with what the run wrote is left.
#   release_test.sh --in-root DEB TEMPLATE VERSION
if [ "${1:-}" = --in-root ]; then
  deb=$2 template=$3 version=$4
  prefix=/var/lib/hotfix-launcher
  listing() {
    find / -xdev \( -path /var/lib/dpkg -o -path /var/log -o -path /var/cache -o -path /tmp \) \
      -prune -o -print | sort
  }
  quiet_dpkg() {
    local output
    output=$(dpkg "$@" 2>&1) || fail "dpkg $*:"$'\n'"$output"
    ! grep -i warning <<<"$output" || fail "dpkg $* warned"
    echo "$output"
  }
  before=$(listing)
  quiet_dpkg -i "$deb" >/dev/null
  [ -d $prefix/drive_c ] || fail "no default prefix drive_c after the install"
  quiet_dpkg --purge hotfix-launcher >/dev/null
  [ "$(listing)" = "$before" ] ||
    fail "an unused install, purged, left:"$'\n'"$(diff <(echo "$before") <(listing))"

  quiet_dpkg -i "$deb" >/dev/null
  [ "$(hotfix-preflight --version)" = "hotfix-preflight $version" ] ||
    fail "hotfix-preflight on PATH says $(hotfix-preflight --version)"
  depends=", $(dpkg-query -W -f='${Depends}' hotfix-launcher),"
  for program in $(dpkg -L hotfix-launcher | grep '^/usr/lib/hotfix-launcher/.*[^/]$'); do
    [ -f "$program" ] && [ -x "$program" ] || continue
    ! ldd "$program" | grep 'not found' || fail "$program lacks a library"
    for library in $(ldd "$program" | awk '$2 == "=>" { print $3 }'); do
      owner=$(dpkg -S "$library" 2>/dev/null || dpkg -S "$(readlink -f "$library")") ||
        fail "no package owns $library"
      # A package named with a version ("libc6 (>= 2.34)") or without one ("libnettle8").
      [[ "$depends" == *", ${owner%%:*}"[\ ,]* ]] || fail "$program loads $library of ${owner%%:*}," \
        "which Depends ($depends) does not name"
    done
  done

  example=$(zcat /usr/share/man/man8/hotfix-launcher.8.gz | sed -n '/^\.SH EXAMPLES/,/^\.SH SEE/p' |
    sed -n '/^\.RS/,/^\.RE/p' | sed '1d;$d;s/\\e/\\/g')
  output=$(bash -e -c "$example" 2>&1) || fail "the man page's example failed:"$'\n'"$output"
  [ "$(head -n 1 <<<"$output")" = 0 ] ||
    fail "the example's launcher exited with $(head -n 1 <<<"$output")"
  log=$(tr -d '\r' <$prefix/drive_c/QOR_Updates_InstallOS.log)
  [ "$(wc -l <<<"$log")" -eq 3 ] && grep -q 'QOR: New OS Patch' <<<"$log" &&
    grep -q -F 'KB5001234 KB5001234.exe /norestart /log:"c:\tmp.log" /quiet /mark' <<<"$log" ||
    fail "the run log is not the three banner records:"$'\n'"$log"
  [ "$(cat $prefix/drive_c/Qor/server/patchinfo)" = $'KB5001234\r' ] ||
    fail "the patch-info file holds: $(cat -A $prefix/drive_c/Qor/server/patchinfo)"
  # The zip's annotated template loads as the example's settings do: its comments are no keys.
  bundle=$prefix/drive_c/hotfix/KB5001234
  cp "$template" "$bundle/Installer.ini"
  status=0
  report=$(hotfix-preflight "$bundle") || status=$?
  [ "$status" -eq 2 ] && grep -q -F 'RunParams=/quiet /mark' <<<"$report" &&
    grep -q -F 'Installer.ini, loaded' <<<"$report" ||
    fail "the preflight over the template, after the run: status $status"$'\n'"$report"

  # The installed launcher run where it was installed (a natural first command) has no bundle: one
  # line on standard error names the prefix, the status is 255, and nothing under the prefix
  # changes, with the prefix given and by default; the last installer log is kept.
  echo 'the last installer log' >$prefix/drive_c/tmp.log
  for setting in "HOTFIX_LAUNCHER_PREFIX=$prefix" ""; do
    before_run=$(find $prefix -printf '%p %y %s %T@ %C@\n' | sort)
    status=0
    said=$(env -u HOTFIX_LAUNCHER_PREFIX $setting /usr/lib/hotfix-launcher/hotfix-launcher --version \
      2>&1 >/dev/null) || status=$?
    [ "$status" -eq 255 ] || fail "the installed launcher (${setting:-default prefix}): status $status"
    [ "$(wc -l <<<"$said")" -eq 1 ] && grep -q -F "prefix $prefix (HOTFIX_LAUNCHER_PREFIX)" <<<"$said" ||
      fail "the installed launcher (${setting:-default prefix}) said: $said"
    [ "$(find $prefix -printf '%p %y %s %T@ %C@\n' | sort)" = "$before_run" ] ||
      fail "the installed launcher (${setting:-default prefix}) changed $prefix"
  done

  kept=$(find $prefix | sort)
  message=$(quiet_dpkg --purge hotfix-launcher)
  grep -q "kept $prefix" <<<"$message" ||
    fail "the purge did not say that it kept $prefix:"$'\n'"$message"
  after=$(listing)
  [ -z "$(comm -23 <(echo "$before") <(echo "$after"))" ] && [ "$(comm -13 <(echo "$before") \
    <(echo "$after"))" = "$kept" ] || fail "the purge left other than $prefix as the run left it:" \
    $'\n'"$(diff <(echo "$before") <(echo "$after"))"
  echo "installed, purged unused, installed, ran the man page's example and purged in a clean root"
  exit 0
fi

# Flips every bit of the byte at OFFSET in FILE.
#   flip FILE OFFSET
flip() {
  local byte
  byte=$(od -A n -t u1 -j "$2" -N 1 "$1" | tr -d ' ')
  printf "\\$(printf '%03o' $((byte ^ 255)))" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}

work=$1 version=$2
source=$(cd "$(dirname "$0")/../.." && pwd)
rm -rf "$work"
mkdir -p "$work"
unset SOURCE_DATE_EPOCH
commit=$(git -C "$source" rev-parse HEAD)
epoch=$(git -C "$source" log -1 --format=%ct)
arch=$(dpkg --print-architecture)
zip=hotfix-launcher-$version-win32.zip deb=hotfix-launcher_${version}_$arch.deb
collection=hotfix-launcher-$version.tar.gz
folder=hotfix-launcher-$version-win32
tmp=$(mktemp -d)
trap 'GNUPGHOME=$tmp/gnupg gpgconf --kill all 2>/dev/null; rm -rf "$tmp"' EXIT
a=$tmp/a/hotfix-launcher b=$tmp/b/somewhere/else/hotfix-launcher
for clone in "$a" "$b"; do
  git clone -q "$source" "$clone"
  git -C "$clone" checkout -q --detach "$commit"
  git -C "$clone" tag -f "v$version" >/dev/null
done

echo "== two releases of $commit, one after the other: $a and $b"
release() {
  local clone=$1 log=$2
  shift 2
  (cd "$clone" && scripts/release.sh --jobs 2 "$@") >"$log" 2>&1
}
(umask 022 && export TZ=UTC LC_ALL=C.UTF-8 && release "$a" "$work/release-a.log" "$tmp/dist") ||
  { cat "$work/release-a.log" >&2; fail "the release in $a failed"; }
(umask 077 && export TZ=Asia/Tokyo LC_ALL=C && release "$b" "$work/release-b.log") ||
  { cat "$work/release-b.log" >&2; fail "the release in $b failed"; }
if ! cmp -s "$tmp/dist/SHA256SUMS" "$b/dist/SHA256SUMS"; then
  diff "$tmp/dist/SHA256SUMS" "$b/dist/SHA256SUMS" >&2 || true
  for file in "$zip" "$deb" "$collection"; do
    cmp -s "$tmp/dist/$file" "$b/dist/$file" && continue
    diffoscope --text - "$tmp/dist/$file" "$b/dist/$file" | head -n 300 >&2 || true
    fail "the two releases differ, first in $file"
  done
  fail "the two releases' SHA256SUMS differ"
fi
cat "$tmp/dist/SHA256SUMS"
cp -r "$b/dist" "$work/dist"
cd "$work/dist"
[ "$(ls)" = "$(printf '%s\n' SHA256SUMS "$zip" "$deb" "$collection" | sort)" ] ||
  fail "dist holds: $(ls)"
sha256sum --quiet -c SHA256SUMS || fail "SHA256SUMS does not match"
tail -n 3 "$work/release-b.log" | diff - SHA256SUMS >/dev/null ||
  fail "release.sh did not print SHA256SUMS"

echo "== the zip, the .deb and lintian"
expected=$( (printf '%s\n' "$folder/" "$folder/hotfix-launcher.exe" "$folder/hotfix-preflight.exe" \
  "$folder/Installer.ini" "$folder/README.md" "$folder/CHANGELOG.md" "$folder/LICENSE" "$folder/docs/" \
  "$folder/docs/guides/"
  cd "$a" && ls docs/*.md docs/guides/*.md | sed "s#^#$folder/#") | LC_ALL=C sort)
listed=$(cmake -E tar tf "$zip")
[ "$listed" = "$expected" ] ||
  fail "the zip holds, in this order"$'\n'"$listed"$'\n'"instead of"$'\n'"$expected"
python3 - "$zip" "$epoch" <<'EOF' || fail "the zip's entries are not all dated the commit, mode 755 or 644"
import sys, time, zipfile
# Zip times count in steps of two seconds; zip rounds an odd second up.
stamp = time.gmtime((int(sys.argv[2]) + 1) & ~1)[:6]
for entry in zipfile.ZipFile(sys.argv[1]).infolist():
    if entry.date_time != stamp or entry.external_attr >> 16 not in (0o40755, 0o100644):
        sys.exit(f"{entry.filename}: {entry.date_time}, mode {entry.external_attr >> 16:o}")
EOF
mkdir "$work/zip"
(cd "$work/zip" && cmake -E tar xf "../dist/$zip")
for file in README.md CHANGELOG.md LICENSE; do
  cmp "$work/zip/$folder/$file" "$a/$file" || fail "the zip's $file differs"
done
stamp=$(TZ=UTC date -d "@$epoch" '+%a %b %e %H:%M:%S %Y')
for program in hotfix-launcher:gui hotfix-preflight:console; do
  exe=$work/zip/$folder/${program%%:*}.exe
  cmake -DOBJDUMP=i686-w64-mingw32-objdump -DPROGRAM="$exe" -DSUBSYSTEM="${program#*:}" \
    -P "$source/cmake/check-imports.cmake" >/dev/null
  cmake -DPROGRAM="$exe" -DVERSION="$version" -P "$source/cmake/check-version-resource.cmake" >/dev/null
  headers=$(TZ=UTC i686-w64-mingw32-objdump -p "$exe")
  grep -q 'file format pei-i386' <<<"$headers" || fail "$exe is not 32-bit"
  grep -q -x -P "Time/Date\t+$stamp" <<<"$headers" ||
    fail "$exe is not stamped with the commit's time $stamp"
done
dpkg-deb -x "$deb" "$work/deb"
dated=$(TZ=UTC date -d "@$epoch" '+%F %T')
! dpkg-deb --fsys-tarfile "$deb" | TZ=UTC tar tv --full-time | grep -v -F " $dated " ||
  fail "files in the .deb are not dated $dated"
footers=$(zcat "$work/deb/usr/share/man/man8/"*.8.gz | grep '^\.TH')
[ "$(grep -c -F "\"${dated% *}\" \"hotfix-launcher $version\"" <<<"$footers")" -eq 2 ] ||
  fail "the man pages' footers lack the date ${dated% *} or the version $version: $footers"
report=$(lintian -I --pedantic "$deb" 2>/dev/null) || true
[ -z "$report" ] || fail "lintian -I --pedantic:"$'\n'"$report"

echo "== the Ansible collection: installed, syntax-checked, and rolled out with the .deb's programs"
! tar tzf "$collection" |
  grep -E '^(tests|hotfix-results)/|^(ansible\.cfg|\.ansible-lint|galaxy\.yml\.in)$' ||
  fail "the collection carries the files above, which are the checkout's own"
! TZ=UTC tar tvzf "$collection" --full-time | grep -v -F " $dated " ||
  fail "members of the collection are not dated $dated"
export ANSIBLE_COLLECTIONS_PATH=$tmp/collections ANSIBLE_LOCAL_TEMP=$tmp/ansible/local
export ANSIBLE_REMOTE_TEMP=$tmp/ansible/remote ANSIBLE_ASYNC_DIR=$tmp/ansible/async
export ANSIBLE_NOCOLOR=1
# ansible-galaxy 2.14 looks for dependencies in Galaxy or in the folder it installs to, not in
# Debian's ansible package, which has ansible.windows: the playbook finds it there.
LC_ALL=C.UTF-8 ansible-galaxy collection install --no-deps -p "$ANSIBLE_COLLECTIONS_PATH" \
  "$collection" >"$work/collection.log" 2>&1 ||
  { cat "$work/collection.log" >&2; fail "the collection's install failed"; }
manifest=$ANSIBLE_COLLECTIONS_PATH/ansible_collections/hotfix/launcher/MANIFEST.json
grep -q -F "\"version\": \"$version\"," "$manifest" &&
  grep -q -F '"ansible.windows": ' "$manifest" ||
  fail "the collection's MANIFEST.json: $(cat "$manifest")"
# One host of the Linux port with the example bundle, as the fleet test simulates them.
host=$tmp/host libexec=$work/deb/usr/lib/hotfix-launcher
example=$work/deb/usr/share/hotfix-launcher/examples/KB5001234
mkdir -p "$host/bundle/KB5001234" "$host/prefix/drive_c/Qor/server"
cp "$libexec/examples/KB5001234/KB5001234.exe" "$example/Installer.ini" "$host/bundle/KB5001234/"
cp "$example/server.reg" "$host/prefix/HKLM.reg"
printf 'KB4000001\r\n' >"$host/prefix/drive_c/Qor/server/patchinfo"
printf '%s\n' 'sim ansible_connection=local ansible_python_interpreter=/usr/bin/python3' \
  '[hotfix_fleet:children]' 'hotfix_linux' '[hotfix_linux]' 'sim' '[all:vars]' \
  hotfix_platform=linux hotfix_poll=1 "hotfix_linux_prefix=$host/prefix" \
  "hotfix_bundle_src=$host/bundle/KB5001234" "hotfix_results_dir=$host/results" \
  "hotfix_linux_launcher=$libexec/hotfix-launcher" \
  "hotfix_linux_preflight=$libexec/hotfix-preflight" >"$host/hosts.ini"
(cd "$host" && export LC_ALL=C.UTF-8 &&
  ansible-playbook -i hosts.ini hotfix.launcher.rollout --syntax-check &&
  ansible-playbook -i hosts.ini hotfix.launcher.rollout) >"$work/rollout.log" 2>&1 ||
  { cat "$work/rollout.log" >&2; fail "the collection's playbook failed"; }
summary=$(cat "$host"/results/*/summary.jsonl)
[ "$(wc -l <<<"$summary")" -eq 1 ] && grep -q '"classification": "success"' <<<"$summary" ||
  fail "the collection's rollout did not end the host success: $summary"

echo "== the .deb in a clean Debian root"
"$source/scripts/clean-root.sh" run --mount "$work" "$source/tests/release/release_test.sh" \
  --in-root "$work/dist/$deb" "$work/zip/$folder/Installer.ini" "$version"

echo "== the gates, in $a"
release "$a" "$work/help.log" --help || fail "--help: status $?"
for option in $(grep -E '^ *(-h \| )?--[a-z-]+( \| --[a-z-]+)*\)' "$a/scripts/release.sh" |
  grep -o -E -- '--[a-z-]+' | sort -u); do
  [ "$(grep -c -E -- "^  (-h, )?$option( |\$)" "$work/help.log")" -eq 1 ] ||
    fail "release.sh --help has no line of its own for $option:"$'\n'"$(cat "$work/help.log")"
done
# A refusal: the status, the words of its message, and release.sh's options.
refused() {
  local expected=$1 words=$2 status=0
  shift 2
  release "$a" "$work/gate.log" "$@" || status=$?
  [ "$status" -eq "$expected" ] && grep -q -F -- "$words" "$work/gate.log" ||
    fail "release.sh $*: status $status, not $expected with '$words':"$'\n'"$(cat "$work/gate.log")"
}
refused 64 '--jobs needs a number' --jobs 0
git -C "$a" tag -d "v$version" >/dev/null
refused 1 "the commit is not tagged v$version" "$tmp/dist"
git -C "$a" tag "v$version" HEAD~1
refused 1 "v$version names the commit $(git -C "$a" rev-parse --short HEAD~1), not this one" \
  "$tmp/dist"
git -C "$a" tag -f "v$version" >/dev/null
git -C "$a" tag v0.0.1
refused 1 'the commit carries the tag v0.0.1' "$tmp/dist"
git -C "$a" tag -d v0.0.1 >/dev/null
echo >>"$a/README.md"
refused 1 'uncommitted changes' "$tmp/dist"
release "$a" "$work/snapshot.log" --snapshot "$tmp/dist" ||
  { cat "$work/snapshot.log" >&2; fail "the snapshot failed"; }
git -C "$a" checkout -q README.md
snapshot=$version+$(git -C "$a" rev-parse --short HEAD).dirty
snapshot_files=("hotfix-launcher-$snapshot-win32.zip" "hotfix-launcher_${snapshot}_$arch.deb"
  "hotfix-launcher-$snapshot.tar.gz")
(cd "$tmp/dist" && ls "${snapshot_files[@]}" && sha256sum --quiet -c SHA256SUMS &&
  [ -z "$(comm -23 <(sort "$work/dist/SHA256SUMS") <(sort SHA256SUMS))" ]) >/dev/null ||
  fail "the snapshot $snapshot is missing, or took the place of $version: $(ls "$tmp/dist")"

echo "== a signed release, in $a"
export GNUPGHOME=$tmp/gnupg
mkdir -m 700 "$GNUPGHOME" "$tmp/pki"
cd "$tmp/pki"
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj '/CN=Throwaway CA' \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr -subj '/CN=Throwaway signer' \
  2>/dev/null
printf '%s\n' basicConstraints=CA:FALSE keyUsage=critical,digitalSignature \
  extendedKeyUsage=codeSigning >signer.ext
openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out signer.pem -days 2 \
  -extfile signer.ext 2>/dev/null
openssl pkcs12 -export -out signer.p12 -inkey signer.key -in signer.pem -passout pass:throwaway
gpg --batch --passphrase '' --quick-gen-key 'hotfix-launcher test <test@example.org>' ed25519 sign 1d \
  2>/dev/null
key=$(gpg --with-colons --list-secret-keys 2>/dev/null | awk -F: '$1 == "fpr" { print $10; exit }')
echo wrong >"$tmp/pki/wrong"
refused 1 'needs a password: give it with --sign-password-file FILE or the variable'\
' HOTFIX_SIGN_PASSWORD' --sign-pkcs12 "$tmp/pki/signer.p12" "$tmp/dist"
refused 1 "the password in $tmp/pki/wrong (--sign-password-file) does not open" \
  --sign-pkcs12 "$tmp/pki/signer.p12" --sign-password-file "$tmp/pki/wrong" "$tmp/dist"
HOTFIX_SIGN_PASSWORD=wrong refused 1 'the password in the variable HOTFIX_SIGN_PASSWORD does not' \
  --sign-pkcs12 "$tmp/pki/signer.p12" "$tmp/dist"
HOTFIX_SIGN_PASSWORD=throwaway release "$a" "$work/signed.log" --sign-pkcs12 "$tmp/pki/signer.p12" \
  --gpg-key "$key" "$tmp/dist" ||
  { cat "$work/signed.log" >&2; fail "the signed release failed"; }
cd "$tmp/dist"
sha256sum --quiet -c SHA256SUMS &&
  [ "$(grep -c -F "${snapshot_files[@]/#/-e}" SHA256SUMS)" -eq 3 ] ||
  fail "the signed release's SHA256SUMS does not match, or lost the snapshot"
cmp -s "$deb" "$work/dist/$deb" || fail "signing changed the .deb"
gpg --verify SHA256SUMS.asc SHA256SUMS 2>/dev/null || fail "gpg --verify fails on the signed SHA256SUMS"
sed 's/^./0/' SHA256SUMS >"$tmp/changed"
! gpg --verify SHA256SUMS.asc "$tmp/changed" 2>/dev/null ||
  fail "gpg --verify passes a changed SHA256SUMS"
mkdir "$tmp/signed"
(cd "$tmp/signed" && cmake -E tar xf "$tmp/dist/$zip")
for program in hotfix-launcher hotfix-preflight; do
  signed=$tmp/signed/$folder/$program.exe
  osslsigncode verify -CAfile "$tmp/pki/ca.pem" -in "$signed" >"$work/verify-$program.log" 2>&1 ||
    { cat "$work/verify-$program.log" >&2; fail "osslsigncode verify fails on the signed $program"; }
  grep -q 'Message digest algorithm *: SHA256' "$work/verify-$program.log" ||
    fail "$program.exe is not signed with a SHA-256 digest"
  osslsigncode remove-signature -in "$signed" -out "$tmp/unsigned.exe" >/dev/null
  cmp "$tmp/unsigned.exe" "$work/zip/$folder/$program.exe" ||
    fail "$program.exe without its signature is not the unsigned program"
  cp "$signed" "$tmp/flipped.exe"
  flip "$tmp/flipped.exe" 1024
  ! osslsigncode verify -CAfile "$tmp/pki/ca.pem" -in "$tmp/flipped.exe" >/dev/null 2>&1 ||
    fail "osslsigncode verify passes $program.exe with a flipped byte"
  rm "$tmp/unsigned.exe" "$tmp/flipped.exe"
done

echo "== verify-release.sh on the signed release, and on a copy with a byte flipped in each file"
(cd "$a" && scripts/verify-release.sh --jobs 2 "$tmp/dist" "$version") >"$work/verify.log" 2>&1 ||
  { cat "$work/verify.log" >&2; fail "verify-release.sh fails on the signed release"; }
signed_zip="same     $zip (its 2 signed programs are the rebuilt ones without their signatures)"
grep -q -x -F "$signed_zip" "$work/verify.log" &&
  grep -q '^good     SHA256SUMS.asc: Good signature' "$work/verify.log" ||
  fail "verify-release.sh did not compare the signed programs or check the signature:"$'\n'"$(cat \
    "$work/verify.log")"
# Someone who can replace the files and SHA256SUMS, but not sign it: the launcher changed under its
# signature and the zip packed again as the release packs it, the package, the collection.
flipped=$tmp/flipped
mkdir "$flipped" "$tmp/repack"
(cd "$tmp/repack" && cmake -E tar xf "$tmp/dist/$zip")
flip "$tmp/repack/$folder/hotfix-launcher.exe" 1024
SOURCE_DATE_EPOCH=$epoch "$a/scripts/reproducible-zip.sh" "$tmp/repack/$folder"
mv "$tmp/repack/$zip" "$flipped/"
for file in "$deb" "$collection"; do
  cp "$file" "$flipped/"
  flip "$flipped/$file" $(($(wc -c <"$file") / 2))
done
(cd "$flipped" && sha256sum "$zip" "$deb" "$collection" >SHA256SUMS)
status=0
(cd "$a" && scripts/verify-release.sh --jobs 2 "$flipped") >"$work/verify-flipped.log" 2>&1 ||
  status=$?
said=$(cat "$work/verify-flipped.log")
[ "$status" -eq 1 ] && grep -q -F "DIFFERS  $zip: hotfix-launcher.exe is not the rebuilt program" \
  <<<"$said" && grep -q -F "DIFFERS  $deb: not the rebuilt file" <<<"$said" &&
  grep -q -F "DIFFERS  $collection: not the rebuilt file" <<<"$said" &&
  grep -q -F "unsigned SHA256SUMS" <<<"$said" ||
  fail "verify-release.sh on flipped bytes: status $status"$'\n'"$said"
echo "release $version: reproducible, lintian-clean, signed, verified and rebuilt, its collection" \
  "rolled out, installed and purged"
