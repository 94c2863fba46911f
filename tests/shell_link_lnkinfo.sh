#!/bin/sh
# Writes a link in the test machine and reads it with lnkinfo from outside.
#   shell_link_lnkinfo.sh TEST_PROGRAM WINERUN    (in the test's run directory)
set -eu
program=$1
winerun=$2
rm -rf outside
"$winerun" "$program" --gtest_filter=ShellLinkOutside.LinkForOutsideReader >/dev/null
info=$(lnkinfo "outside/Tarnholm Vesk.lnk" | sed -e 's/^[[:space:]]*//' -e 's/[[:space:]]*: /: /')
status=0
for expected in \
    'Local path: Y:\run\shell_link_test\outside\tnh2main.exe' \
    'Description: file shortcut' \
    'Working directory: Y:\run\shell_link_test\outside' \
    'Command line arguments: -remove'; do
  if ! printf '%s\n' "$info" | grep -qxF "$expected"; then
    echo "lnkinfo does not show: $expected"
    status=1
  fi
done
[ $status -eq 0 ] || printf '%s\n' "$info"
rm -rf outside
exit $status
