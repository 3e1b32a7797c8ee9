# The release keys built into a launcher.

# talvora_release_key_source(<out-var> <name> <release.pub files>)
# Writes a source defining session::builtInReleaseKeys() for one launcher program: the public keys of
# the given "release.pub" files (each one line "talvora-release-key p256 <X and Y in hex>", as
# talvora-mkpatch keygen writes it), or none when the list is empty. Two keys while moving to a new
# one: the launcher then trusts a manifest signed with either. A file that is not such a key stops the
# build's configuration: a launcher must never be built with a key other than the one intended.
function(talvora_release_key_source out name pubs)
  set(file ${CMAKE_BINARY_DIR}/generated/release_key_${name}.cpp)
  set(rows "")
  set(count 0)
  foreach(pub IN LISTS pubs)
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
    string(APPEND rows "    {${bytes}},  // ${pub}\n")
    math(EXPR count "${count} + 1")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${pub}")
  endforeach()
  if(count EQUAL 0)
    set(definition "ReleaseKeys builtInReleaseKeys() { return ReleaseKeys(); }")
  else()
    set(definition "const uint8_t Keys[${count}][ReleaseKeySize] = {\n${rows}};\n\nReleaseKeys builtInReleaseKeys() {\n    ReleaseKeys keys;\n    keys.keys = Keys;\n    keys.count = ${count};\n    return keys;\n}")
  endif()
  file(CONFIGURE OUTPUT ${file} CONTENT
    "// Generated from the build's release keys.\n#include \"launcher/session/release_trust.h\"\n\nnamespace session {\n\n${definition}\n\n}  // namespace session\n")
  set(${out} ${file} PARENT_SCOPE)
endfunction()
