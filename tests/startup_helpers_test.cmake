# In-process: the installer library with its resources (the panel's dialog
# and string table come from the test program's own module).
target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/resources)
