# The link written by ShellLinkOutside.LinkForOutsideReader, read from outside
# the test machine with lnkinfo.
add_test(NAME ShellLinkOutside.ReadByLnkinfo
         COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/shell_link_lnkinfo.sh $<TARGET_FILE:${name}> ${CMAKE_BINARY_DIR}/winerun
         WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/run/${name})
set_tests_properties(ShellLinkOutside.ReadByLnkinfo PROPERTIES TIMEOUT 180 RUN_SERIAL TRUE)
