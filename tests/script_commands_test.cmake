# A copy onto a drive that fills up: the machine gets a 1 MB tmpfs as Q: for
# the one case that needs it (it skips itself without the drive).
add_test(NAME FullDisk.WriteFailureOnASmallDrive
         COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/full_disk.sh ${CMAKE_SOURCE_DIR}/tools/testmachine
                 ${CMAKE_BINARY_DIR} $<TARGET_FILE:${name}> FullDisk.WriteFailureEndsTheCopy
         WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/run/${name})
set_tests_properties(FullDisk.WriteFailureOnASmallDrive PROPERTIES TIMEOUT 180 RUN_SERIAL TRUE)
