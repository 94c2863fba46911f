#!/bin/sh
# Runs one test case with a 1 MB tmpfs as drive Q: of the test machine.
#   full_disk.sh TESTMACHINE BUILD TEST_PROGRAM GTEST_CASE
set -eu
testmachine=$1 build=$2 program=$3 case=$4
"$testmachine" tmpfs "$build" q 1m
status=0
"$build/winerun" "$program" --gtest_filter="$case" >full_disk.log 2>&1 || status=$?
if ! grep -q '^\[  PASSED  \] 1 test' full_disk.log || grep -q SKIPPED full_disk.log; then
  status=1
fi
[ $status -eq 0 ] || cat full_disk.log
"$testmachine" untmpfs "$build" q
rm -f full_disk.log
exit $status
