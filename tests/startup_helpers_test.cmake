# In-process: the installer's own sources and resources, without its entry
# (the test's main wins over the installer's WinMain in a console program).
file(GLOB installer_sources ${CMAKE_SOURCE_DIR}/installer/*.cpp)
target_sources(${name} PRIVATE ${installer_sources})
target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/installer ${CMAKE_SOURCE_DIR}/resources)
target_link_libraries(${name} PRIVATE installer_resources comctl32)
