# The resource test reads the installer's resources from its own module.
target_link_libraries(${name} PRIVATE version comctl32)
