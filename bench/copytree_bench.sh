#!/bin/sh
# Copies a generated tree (about 2,000 files, 300 MB) with CMD_COPY_TREE and
# deletes it with CMD_REMOVE_TREE in the test machine, and does the same on
# the host with cp -r, a tar pipe and rm -r; prints each script time as a
# ratio to the host's time on the same tree in the same run (best of 3).
# Also removes it as an installed game's data tree through the built-in
# remove script, against rm -r of the same tree.
#   bench/copytree_bench.sh [BUILD_DIR]     after tools/check has built it
set -eu
build=$(cd "${1:-build}" && pwd)
program="$build/bench/copytree_bench.exe"
winerun="$build/winerun"
work="$build/run/copytree_bench"
[ -x "$program" ] || { echo "copytree_bench: build first (tools/check)" >&2; exit 1; }

. "$(dirname "$0")/../tools/machine.sh"
machine_env "$build"
# One server for all runs; it ends with the script. Do not run this while
# tools/check runs on the same build directory.
machine_server
trap machine_stop EXIT
rm -rf "$work"
mkdir -p "$work"
cd "$work"

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f", b - a }'; }
least() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b < a) ? b : a }'; }
script_seconds() { "$winerun" "$program" "$@" | sed -n 's/^seconds: //p'; }

"$winerun" "$program" generate src | sed 's/^/tree /'
find src -type f -exec cat {} + >/dev/null   # every run starts from a warm cache

cp_best= tar_best= rm_best= copy_best= remove_best= uninstall_best=
for round in 1 2 3; do
  # Both sides are timed without writing back to the disk; sync between runs.
  start=$(now); cp -r src host_cp; cp_best=$(least "$cp_best" "$(elapsed "$start" "$(now)")"); sync
  start=$(now); rm -r host_cp; rm_best=$(least "$rm_best" "$(elapsed "$start" "$(now)")"); sync
  mkdir host_tar
  start=$(now); (cd src && tar -cf - .) | (cd host_tar && tar -xf -)
  tar_best=$(least "$tar_best" "$(elapsed "$start" "$(now)")"); sync
  rm -r host_tar; sync

  seconds=$(script_seconds copy src script_copy); sync
  [ -n "$seconds" ] || { echo "copytree_bench: the copy failed" >&2; exit 1; }
  copy_best=$(least "$copy_best" "$seconds")
  diff -r src script_copy >/dev/null || { echo "copytree_bench: the copy differs" >&2; exit 1; }
  seconds=$(script_seconds remove script_copy); sync
  [ ! -e script_copy ] || { echo "copytree_bench: the tree was not removed" >&2; exit 1; }
  remove_best=$(least "$remove_best" "$seconds")

  mkdir game
  cp -r src game/data
  echo game > game/tnh2main.exe
  sync
  seconds=$(script_seconds uninstall game); sync
  [ ! -e game/data ] && [ ! -e game/tnh2main.exe ] || { echo "copytree_bench: the game was not removed" >&2; exit 1; }
  uninstall_best=$(least "$uninstall_best" "$seconds")
  rm -rf game
done
rm -rf "$work"

echo "host_cp_r_seconds: $cp_best"
echo "host_tar_pipe_seconds: $tar_best"
echo "host_rm_r_seconds: $rm_best"
echo "copy_tree_seconds: $copy_best"
echo "remove_tree_seconds: $remove_best"
echo "remove_script_seconds: $uninstall_best"
awk -v c="$copy_best" -v cp="$cp_best" -v t="$tar_best" -v r="$remove_best" -v rm="$rm_best" -v u="$uninstall_best" 'BEGIN {
  printf "copy_tree_vs_cp_r: %.2f\n", c / cp
  printf "copy_tree_vs_tar_pipe: %.2f\n", c / t
  printf "remove_tree_vs_rm_r: %.2f\n", r / rm
  printf "remove_script_vs_rm_r: %.2f\n", u / rm
}'
