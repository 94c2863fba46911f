# Out-of-memory paths: every malloc/realloc/free goes through the failing heap
# of tests/support.
target_link_options(${name} PRIVATE -Wl,--wrap=malloc -Wl,--wrap=realloc -Wl,--wrap=free)

# The 20,000-file directory of the tree test. Made on the host side once per
# build directory: Wine checks every new name against the whole directory, so
# making it from inside the test would take minutes.
set(QFILE_BIG_DIRECTORY ${CMAKE_BINARY_DIR}/run/${name}/big20000)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/run/${name}/big20000.made
  COMMAND sh -c "rm -rf '${QFILE_BIG_DIRECTORY}' && mkdir -p '${QFILE_BIG_DIRECTORY}/zz' && cd '${QFILE_BIG_DIRECTORY}' && seq -f 'f%05g.dat' 0 19999 | xargs touch && echo inner > zz/inner.dat"
  COMMAND ${CMAKE_COMMAND} -E touch ${CMAKE_BINARY_DIR}/run/${name}/big20000.made
  VERBATIM)
add_custom_target(${name}_big_directory DEPENDS ${CMAKE_BINARY_DIR}/run/${name}/big20000.made)
add_dependencies(${name} ${name}_big_directory)
