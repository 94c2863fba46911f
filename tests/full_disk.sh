#!/bin/sh
# Runs one test case with a 1 MB tmpfs as drive Q: of the test machine; it
# must run and pass (without the drive's variable it skips itself).
#   full_disk.sh TESTMACHINE BUILD TEST_PROGRAM GTEST_CASE
set -eu
"$1" tmpfs "$2" q 1m
status=0
FULL_DISK=1 "$2/winerun" "$3" --gtest_filter="$4" >full_disk.log 2>&1 || status=$?
grep -q '^\[  PASSED  \] 1 test' full_disk.log || status=1
cat full_disk.log
rm -f full_disk.log
"$1" untmpfs "$2" q
exit $status
