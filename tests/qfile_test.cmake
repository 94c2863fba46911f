# Out-of-memory paths: every malloc/realloc/calloc/free goes through the failing heap.
# The debug-file and call-stack helpers of the test support library.
target_link_libraries(${name} PRIVATE test_support_debug -Wl,--wrap=malloc -Wl,--wrap=realloc -Wl,--wrap=free -Wl,--wrap=calloc)
target_compile_options(${name} PRIVATE -Wno-dangling-else -Wno-missing-field-initializers)
# The 20,000-file directory of the tree test, made on the host once per build
# directory: Wine checks every new name against the whole directory, so
# making it from inside the test would take minutes.
set(big ${CMAKE_BINARY_DIR}/run/${name}/big20000)
add_custom_command(OUTPUT ${big}.made VERBATIM COMMAND sh -c "mkdir -p '${big}/zz' && cd '${big}' && seq -f 'f%05g.dat' 0 19999 | xargs touch && echo inner > zz/inner.dat && touch '${big}.made'")
add_custom_target(${name}_big_directory DEPENDS ${big}.made)
add_dependencies(${name} ${name}_big_directory)
