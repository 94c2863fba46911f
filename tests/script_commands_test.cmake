# A copy onto a drive that fills up: the one case that needs it runs with a
# 1 MB tmpfs as drive Q: (and skips itself when run otherwise).
add_test(NAME FullDisk.WriteFailureOnASmallDrive WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/run/${name}
         COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/full_disk.sh ${CMAKE_SOURCE_DIR}/tools/testmachine
                 ${CMAKE_BINARY_DIR} $<TARGET_FILE:${name}> FullDisk.WriteFailureEndsTheCopy)
set_tests_properties(FullDisk.WriteFailureOnASmallDrive PROPERTIES TIMEOUT 180 RUN_SERIAL TRUE LABELS ${name})
