# The patch session (included from launcher/CMakeLists.txt).
add_library(talvora_session STATIC
  ${CMAKE_CURRENT_LIST_DIR}/archive_names.cpp
  ${CMAKE_CURRENT_LIST_DIR}/extract_archive.cpp
  ${CMAKE_CURRENT_LIST_DIR}/version_record.cpp)
target_include_directories(talvora_session PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(talvora_session PUBLIC talvora_core talvora_platform talvora_unrar)
