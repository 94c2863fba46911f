#!/usr/bin/env bash
# The machine of the end-to-end install cases, set up before and taken down
# after them (CTest fixture "install_machine").
#
#   install_machine.sh setup BUILD SOURCE    master CDs in BUILD/cds, tmpfs drives
#   install_machine.sh cleanup BUILD SOURCE  drives and CDs away
#
# Master CDs; a case inserts one by pointing BUILD/machine/cd-d or cd-e
# (drives D: and E:) at it, and ejects it by pointing them at "none":
#   full      set-up program, *.rra files, a file held open for 8 s, 3 s of writing
#   plain     the same without *.rra files, held for 6 s, 1 s of writing
#   nopatch   the game with the no-patch marker
#   large     set-up program, one file of 400 MiB (data/fill/g0/d0/file0.bin),
#             which takes the relocation a while to copy to another drive
# Drives with a known amount of free space:
#   F: 1200 MiB (band 2)  G: 800 MiB (band 3)  H: 600 MiB (too little)
#   I: 4 TiB + 100 MiB (more than 32 bits of KiB)
set -euo pipefail

build=$(cd "$2" && pwd)
machine="$3/tools/testmachine"
make_cd="$3/testkit/make_cd"
setup_exe="$build/testkit/cdsetup/setup.exe"
drives=(f:1200m g:800m h:600m i:4194404m)

case "$1" in
  setup)
    [ -f "$setup_exe" ] || { echo "no $setup_exe: build first" >&2; exit 1; }
    "$make_cd" "$build/cds/full" --setup "$setup_exe" --rra --milliseconds 3000 \
               --hold data/maps/big.map --hold-ms 8000
    "$make_cd" "$build/cds/plain" --setup "$setup_exe" --milliseconds 1000 \
               --hold data/maps/big.map --hold-ms 6000
    "$make_cd" "$build/cds/nopatch" --setup "$setup_exe" --no-patch
    "$make_cd" "$build/cds/large" --setup "$setup_exe" --files 1 --megabytes 400
    mkdir -p "$build/cds/none"
    find "$build/cds/none" -mindepth 1 -delete
    for drive in d e; do  # a link, which find does not enter, or a directory
      find "$build/machine/cd-$drive" -mindepth 1 -delete
      rm -d "$build/machine/cd-$drive" && ln -s ../cds/none "$build/machine/cd-$drive"
    done
    for drive in "${drives[@]}"; do "$machine" tmpfs "$build" "${drive%%:*}" "${drive#*:}"; done
    ;;
  cleanup)
    for drive in "${drives[@]}"; do "$machine" untmpfs "$build" "${drive%%:*}"; done
    for drive in d e; do
      rm -f "$build/machine/cd-$drive" 2>/dev/null || true  # the link, not a directory
      mkdir -p "$build/machine/cd-$drive"
    done
    ;;
  *) echo "usage: install_machine.sh setup|cleanup BUILD SOURCE" >&2; exit 1 ;;
esac
