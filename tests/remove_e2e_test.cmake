# End-to-end: removes a game through the installer of the patch folder.
target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/resources ${CMAKE_CURRENT_SOURCE_DIR})
add_dependencies(${name} patch_folder)
