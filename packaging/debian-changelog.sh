#!/bin/sh
# Writes the Debian package's changelog from the release notes: each "## <version> (<date>)"
# heading of CHANGELOG.md becomes an entry, each "- " item a "  * " item (its continuation lines
# indented to match), and the entry ends with the maintainer and the date at midnight UTC.
#   debian-changelog.sh CHANGELOG.md PACKAGE 'NAME <ADDRESS>' OUTPUT
set -eu
notes=$1 package=$2 maintainer=$3 output=$4
awk -v package="$package" -v maintainer="$maintainer" '
  function close_entry() {
    if (date == "") return
    command = "date -u -R -d " date
    command | getline stamp
    close(command)
    printf "\n -- %s  %s\n", maintainer, stamp
    date = ""
  }
  /^## / {
    close_entry()
    if (!match($0, /^## [^ ]+ \([0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]\)$/)) {
      print "malformed release heading: " $0 >"/dev/stderr"
      exit 1
    }
    version = $2
    date = substr($3, 2, 10)
    if (entries++) print ""
    printf "%s (%s) unstable; urgency=medium\n\n", package, version
    next
  }
  date != "" && /^- / { print "  * " substr($0, 3); next }
  date != "" && /^  [^ ]/ { print "  " $0; next }
  END { close_entry() }
' "$notes" >"$output"
