# End-to-end: drives the installer of the patch folder; resource ids name its controls.
target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/resources ${CMAKE_CURRENT_SOURCE_DIR})
add_dependencies(${name} patch_folder)
