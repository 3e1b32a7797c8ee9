# The release key built into a launcher.

# talvora_release_key_source(<out-var> <name> <release.pub or empty>)
# Writes a source defining session::builtInReleaseKey() for one launcher program: the public key of
# the given "release.pub" (one line "talvora-release-key p256 <X and Y in hex>", as talvora-mkpatch
# keygen writes it), or none when the path is empty. A file that is not such a key stops the build's
# configuration: a launcher must never be built with a key other than the one intended.
function(talvora_release_key_source out name pub)
  set(file ${CMAKE_BINARY_DIR}/generated/release_key_${name}.cpp)
  if(pub STREQUAL "")
    set(definition "const uint8_t* builtInReleaseKey() { return nullptr; }")
  else()
    if(NOT IS_ABSOLUTE "${pub}")
      set(pub ${PROJECT_SOURCE_DIR}/${pub})
    endif()
    if(NOT EXISTS "${pub}")
      message(FATAL_ERROR "release key ${pub}: no such file")
    endif()
    file(READ "${pub}" text)
    if(NOT text MATCHES "^talvora-release-key p256 ([0-9a-f]+)\n?$")
      message(FATAL_ERROR "release key ${pub}: not a key written by talvora-mkpatch keygen")
    endif()
    set(hex ${CMAKE_MATCH_1})
    string(LENGTH "${hex}" length)
    if(NOT length EQUAL 128)
      message(FATAL_ERROR "release key ${pub}: a P-256 key has 128 hex digits, not ${length}")
    endif()
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    set(definition "const uint8_t Key[64] = {${bytes}};\nconst uint8_t* builtInReleaseKey() { return Key; }")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${pub}")
  endif()
  file(CONFIGURE OUTPUT ${file} CONTENT
    "// Generated from the build's release key.\n#include \"launcher/session/release_trust.h\"\n\nnamespace session {\n${definition}\n}  // namespace session\n")
  set(${out} ${file} PARENT_SCOPE)
endfunction()
