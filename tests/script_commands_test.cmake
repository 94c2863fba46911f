# The copy cases once more with a 1 MB tmpfs as drive Q:, where a copy fills
# the drive (the case leaves that row out when run otherwise); they must run
# and pass.
add_test(NAME FullDisk.WriteFailureOnASmallDrive WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/run/${name}
         COMMAND sh -c "$0 tmpfs $1 q 1m && FULL_DISK=1 $1/winerun $2 --gtest_filter=Commands.Copying >full_disk.log 2>&1; grep -q '^.  PASSED  . 1 test' full_disk.log; s=$?; cat full_disk.log; $0 untmpfs $1 q; exit $s"
                 ${CMAKE_SOURCE_DIR}/tools/testmachine ${CMAKE_BINARY_DIR} $<TARGET_FILE:${name}>)
set_tests_properties(FullDisk.WriteFailureOnASmallDrive PROPERTIES TIMEOUT 180 RUN_SERIAL TRUE LABELS ${name})
