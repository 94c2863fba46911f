#!/usr/bin/env bash
# The machine of the end-to-end install cases, set up before and taken down
# after them (CTest fixture "install_machine").
#
#   install_machine.sh setup BUILD SOURCE    master CDs in BUILD/cds, tmpfs drives
#   install_machine.sh cleanup BUILD SOURCE  drives and CDs away
#
# Both machines (BUILD/machine and BUILD/machine32) get the same drives.
# Master CDs; a case inserts one by pointing the machine's cd-d or cd-e
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
source=$3
machine="$3/tools/testmachine"
make_cd="$3/testkit/make_cd"
setup_exe="$build/testkit/cdsetup/setup.exe"
drives=(f:1200m g:800m h:600m i:4194404m)
# The directory of machine 64 or 32, as the machines' environment names it.
machine_dir() { (MACHINE_ARCH=$1 && . "$source/tools/machine.sh" && machine_env "$build" && echo "$MACHINE_DIR"); }

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
    for arch in 64 32; do
      cds="$(machine_dir $arch)/cd-"
      for drive in d e; do  # a link, which find does not enter, or a directory
        find "$cds$drive" -mindepth 1 -delete
        rm -d "$cds$drive" && ln -s ../cds/none "$cds$drive"
      done
      for drive in "${drives[@]}"; do
        MACHINE_ARCH=$arch "$machine" tmpfs "$build" "${drive%%:*}" "${drive#*:}"
      done
    done
    ;;
  cleanup)
    for arch in 64 32; do
      cds="$(machine_dir $arch)/cd-"
      for drive in "${drives[@]}"; do MACHINE_ARCH=$arch "$machine" untmpfs "$build" "${drive%%:*}"; done
      for drive in d e; do
        rm -f "$cds$drive" 2>/dev/null || true  # the link, not a directory
        mkdir -p "$cds$drive"
      done
    done
    ;;
  *) echo "usage: install_machine.sh setup|cleanup BUILD SOURCE" >&2; exit 1 ;;
esac
