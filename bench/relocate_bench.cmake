# The relocation pass is the install flow's own code.
target_link_libraries(${name} PRIVATE installer)
