#!/usr/bin/env bash
# The machine of the end-to-end install cases, set up before and taken down
# after them (CTest fixture "install_machine").
#
#   install_machine.sh setup BUILD SOURCE    master CDs in BUILD/cds, tmpfs drives
#   install_machine.sh cleanup BUILD SOURCE  drives and CD contents away
#
# Master CDs (the cases "insert" one by copying it to BUILD/machine/cd-d or
# cd-e, drives D: and E:):
#   full      set-up program, *.rra files, a file held open for 8 s, 3 s of writing
#   plain     set-up program, a file held open for 6 s, 1 s of writing,
#             nothing that stays behind
#   nosetup   the game without a set-up program
#   nopatch   the game with the no-patch marker
#   large     set-up program, one file of 400 MiB (data/fill/g0/d0/file0.bin),
#             which takes the relocation a while to copy to another drive
# Drives with a known amount of free space:
#   F: 1200 MiB (band 2)  G: 800 MiB (band 3)  H: 600 MiB (too little)
#   I: 4 TiB + 100 MiB (more than 32 bits of KiB)
set -euo pipefail

action=$1
build=$(cd "$2" && pwd)
source=$(cd "$3" && pwd)
machine="$source/tools/testmachine"
make_cd="$source/testkit/make_cd"
setup_exe="$build/testkit/cdsetup/setup.exe"
drives=(f:1200m g:800m h:600m i:4194404m)

case "$action" in
  setup)
    [ -f "$setup_exe" ] || { echo "no $setup_exe: build first" >&2; exit 1; }
    mkdir -p "$build/cds"
    "$make_cd" "$build/cds/full" --setup "$setup_exe" --rra --milliseconds 3000 \
               --hold data/maps/big.map --hold-ms 8000
    "$make_cd" "$build/cds/plain" --setup "$setup_exe" --milliseconds 1000 \
               --hold data/maps/big.map --hold-ms 6000
    "$make_cd" "$build/cds/nosetup"
    "$make_cd" "$build/cds/nopatch" --setup "$setup_exe" --no-patch
    "$make_cd" "$build/cds/large" --setup "$setup_exe" --files 1 --megabytes 400
    # The links are read from outside as well, with the host's lnkinfo,
    # which the cases start from drive Y:.
    cp "$(command -v lnkinfo)" "$build/cds/lnkinfo"
    for drive in "${drives[@]}"; do
      "$machine" tmpfs "$build" "${drive%%:*}" "${drive#*:}"
    done
    ;;
  cleanup)
    for drive in "${drives[@]}"; do
      "$machine" untmpfs "$build" "${drive%%:*}"
    done
    find "$build/machine/cd-d" "$build/machine/cd-e" -mindepth 1 -delete
    ;;
  *) echo "usage: install_machine.sh setup|cleanup BUILD SOURCE" >&2; exit 1 ;;
esac
