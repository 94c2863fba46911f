# The text-input dialog's template lives with the test.
target_sources(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/winutils_dialog.rc)
