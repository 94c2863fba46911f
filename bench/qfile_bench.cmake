# The walk alone, against which the name tree's build is measured.
target_link_libraries(${name} PRIVATE walker)
