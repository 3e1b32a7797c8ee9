# The downloader (included from launcher/CMakeLists.txt). The progress arithmetic is portable and
# tested natively; the download itself is Windows code on the platform's URL download.
add_library(talvora_download_progress STATIC ${CMAKE_CURRENT_LIST_DIR}/download_progress.cpp)
target_include_directories(talvora_download_progress PUBLIC ${PROJECT_SOURCE_DIR})

if(WIN32)
  add_library(talvora_download STATIC ${CMAKE_CURRENT_LIST_DIR}/download_file.cpp)
  target_include_directories(talvora_download PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(talvora_download PUBLIC talvora_download_progress talvora_core talvora_common_launcher
                        urlmon wininet ole32 uuid)
endif()
