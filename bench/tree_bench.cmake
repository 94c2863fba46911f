# The scripts, with the installer as their host and its resources for the
# panel. The scripts come first: nothing of the benchmark's own refers to
# the installer, so the linker takes the host from it only after the
# scripts have asked for it.
target_link_libraries(${name} PRIVATE scripts installer installer_resources)
