# Out-of-memory paths: every malloc/realloc/free goes through the failing heap
# of tests/support.
target_link_options(${name} PRIVATE -Wl,--wrap=malloc -Wl,--wrap=realloc -Wl,--wrap=free)
