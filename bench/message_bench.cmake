# The allocator stub of the message tests, while the library has no allocator.
if(NOT EXISTS ${CMAKE_SOURCE_DIR}/foundation/memory.cpp)
  target_sources(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/message_memory_stub.cpp)
endif()
