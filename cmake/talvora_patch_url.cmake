# The built-in patch server base URL. The launcher runs elevated and fetches executables from it
# (a new launcher, a new game client), so it must be an absolute HTTPS URL: over plain HTTP anyone
# on the way could hand the players' machines a program of their own. A wrong URL is a configure
# error, never a launcher that fails, or worse, on the players' machines.
#
# Included by the top-level CMakeLists.txt; also runs on its own, which is how the tests drive it:
#   cmake -DTALVORA_PATCH_URL=<url> -P cmake/talvora_patch_url.cmake

# Stops the configuration with the reason when `url` is not a usable base URL.
function(talvora_check_patch_url url)
  set(why "")
  if(NOT url MATCHES "^https://")
    set(why "it must begin with https:// (the launcher runs elevated and fetches executables from it)")
  elseif(NOT url MATCHES "^https://[^/]")
    set(why "it names no host")
  elseif(url MATCHES "[ \t\r\n\"\\\\]")
    set(why "it holds a space, a quote or a backslash")
  elseif(url MATCHES "[?#]")
    set(why "it holds a query or a fragment (resource names are appended to it)")
  elseif(url MATCHES "/$")
    set(why "it ends with a slash (resource names are appended with one)")
  endif()
  if(why)
    message(FATAL_ERROR "TALVORA_PATCH_URL must be an absolute HTTPS URL without a trailing slash, "
                        "such as https://patch.example.com/patch: ${why}. Given: \"${url}\"")
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  talvora_check_patch_url("${TALVORA_PATCH_URL}")
endif()
