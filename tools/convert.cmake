# `quillmote-convert`: a backup file to and from another program's files, through
# quillmote-batch (run as a child) and the store's export and import (interop/).
if(TARGET quillmote-batch AND TARGET interop)
  add_executable(quillmote-convert ${CMAKE_CURRENT_SOURCE_DIR}/quillmote_convert.cpp)
  target_link_libraries(quillmote-convert PRIVATE interop)
  add_dependencies(quillmote-convert quillmote-batch)
endif()
