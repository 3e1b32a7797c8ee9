# The launcher's pack store: index loading, the pack writer and patch application.
add_library(talvora_packstore STATIC
  ${CMAKE_CURRENT_LIST_DIR}/key_table.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pack_index.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pack_writer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/patch_apply.cpp
  ${CMAKE_CURRENT_LIST_DIR}/store_owner.cpp)
target_include_directories(talvora_packstore PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(talvora_packstore PUBLIC talvora_core talvora_packformat talvora_platform)
