# The install flow end to end: the installer, the CD's set-up program, master
# CDs and drives of chosen sizes (tests/install_machine.sh, as a fixture).
add_dependencies(${name} cdsetup)
add_test(NAME install_machine_setup
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/install_machine.sh setup ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})
add_test(NAME install_machine_cleanup
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/install_machine.sh cleanup ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})
set_tests_properties(install_machine_setup PROPERTIES FIXTURES_SETUP install_machine RUN_SERIAL TRUE)
set_tests_properties(install_machine_cleanup PROPERTIES FIXTURES_CLEANUP install_machine RUN_SERIAL TRUE)
set(TEST_PROPERTIES FIXTURES_REQUIRED install_machine)
