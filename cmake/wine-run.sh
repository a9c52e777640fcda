#!/bin/sh
# Runs a Windows test program under wine64 in the prefix the test run made (see tests/CMakeLists.txt).
: "${HOTFIX_WINEPREFIX:?the wine prefix of this test run is not set}"
export WINEPREFIX="$HOTFIX_WINEPREFIX" WINEDEBUG=-all
exec wine "$@"
