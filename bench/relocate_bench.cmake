# The relocation pass is the install flow's own code.
target_sources(${name} PRIVATE ${CMAKE_SOURCE_DIR}/installer/install.cpp ${CMAKE_SOURCE_DIR}/installer/paths.cpp)
target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/installer ${CMAKE_SOURCE_DIR}/resources)
