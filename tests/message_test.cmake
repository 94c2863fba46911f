# Out-of-memory paths: every malloc/realloc/calloc/free goes through the failing heap.
# The debug-file and call-stack helpers of the test support library.
target_link_libraries(${name} PRIVATE test_support_debug -Wl,--wrap=malloc -Wl,--wrap=realloc -Wl,--wrap=free -Wl,--wrap=calloc)
target_compile_options(${name} PRIVATE -Wno-dangling-else)
