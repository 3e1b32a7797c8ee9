# The patch session (included from launcher/CMakeLists.txt).
add_library(talvora_session STATIC
  ${CMAKE_CURRENT_LIST_DIR}/archive_names.cpp
  ${CMAKE_CURRENT_LIST_DIR}/extract_archive.cpp
  ${CMAKE_CURRENT_LIST_DIR}/version_record.cpp
  ${CMAKE_CURRENT_LIST_DIR}/session_files.cpp
  ${CMAKE_CURRENT_LIST_DIR}/game_start.cpp
  ${CMAKE_CURRENT_LIST_DIR}/release_manifest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/release_trust.cpp)
target_include_directories(talvora_session PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(talvora_session PUBLIC talvora_core talvora_packstore talvora_platform talvora_unrar
  talvora_release_crypto)

# The built-in servers: the patch server's base URL (checked by cmake/talvora_patch_url.cmake when
# the build is configured) and the game server's dotted IPv4 address.
string(REGEX MATCH "^([0-9]+)\\.([0-9]+)\\.([0-9]+)\\.([0-9]+)$" server_ok "${TALVORA_GAME_SERVER}")
if(NOT server_ok OR CMAKE_MATCH_1 GREATER 255 OR CMAKE_MATCH_2 GREATER 255 OR CMAKE_MATCH_3 GREATER 255
   OR CMAKE_MATCH_4 GREATER 255)
  message(FATAL_ERROR "TALVORA_GAME_SERVER must be a dotted IPv4 address: ${TALVORA_GAME_SERVER}")
endif()
set_property(GLOBAL PROPERTY TALVORA_SESSION_DEFINITIONS
  TALVORA_PATCH_URL="${TALVORA_PATCH_URL}"
  TALVORA_GAME_SERVER_A=${CMAKE_MATCH_1} TALVORA_GAME_SERVER_B=${CMAKE_MATCH_2}
  TALVORA_GAME_SERVER_C=${CMAKE_MATCH_3} TALVORA_GAME_SERVER_D=${CMAKE_MATCH_4})
get_property(session_definitions GLOBAL PROPERTY TALVORA_SESSION_DEFINITIONS)
target_compile_definitions(talvora_session PRIVATE ${session_definitions})

# The session's Windows driver: the worker thread's run and the downloads through the release
# manifest.
if(WIN32)
  add_library(talvora_patch_session STATIC ${CMAKE_CURRENT_LIST_DIR}/patch_session.cpp
    ${CMAKE_CURRENT_LIST_DIR}/release_download.cpp)
  target_compile_definitions(talvora_patch_session PRIVATE ${session_definitions})
  target_link_libraries(talvora_patch_session PUBLIC talvora_session talvora_download)
endif()
