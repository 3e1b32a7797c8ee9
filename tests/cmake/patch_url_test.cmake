# The built-in patch URL is checked when the build is configured: a table of URLs through the check
# on its own, then one real configuration of the project with a plain-HTTP URL, which must stop.
#   cmake -DSOURCE_DIR=<project> -DWORK_DIR=<scratch> -P patch_url_test.cmake
set(check ${SOURCE_DIR}/cmake/talvora_patch_url.cmake)
set(failures 0)

# Each case: the URL, then "ok" or a piece of the reason the configuration must give.
set(cases
  "https://127.0.0.1:8443/patch|ok"
  "https://patch.example.com/patch|ok"
  "https://patch.example.com|ok"
  "http://patch.example.com/patch|must begin with https://"
  "HTTP://patch.example.com/patch|must begin with https://"
  "ftp://patch.example.com/patch|must begin with https://"
  "patch.example.com/patch|must begin with https://"
  "//patch.example.com/patch|must begin with https://"
  "|must begin with https://"
  "https:///patch|names no host"
  "https://patch.example.com/patch/|ends with a slash"
  "https://patch.example.com/my patch|a space"
  "https://patch.example.com/patch?x=1|a query"
  "https://patch.example.com/pa\\\\tch|a backslash")
foreach(entry IN LISTS cases)
  string(FIND "${entry}" "|" bar REVERSE)
  string(SUBSTRING "${entry}" 0 ${bar} url)
  math(EXPR from "${bar} + 1")
  string(SUBSTRING "${entry}" ${from} -1 expected)
  execute_process(COMMAND ${CMAKE_COMMAND} "-DTALVORA_PATCH_URL=${url}" -P ${check}
                  RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(REGEX REPLACE "[ \t\r\n]+" " " err "${err}")  # cmake wraps its messages
  if(expected STREQUAL "ok")
    if(NOT code EQUAL 0)
      message(SEND_ERROR "\"${url}\" was refused: ${err}")
    endif()
  elseif(code EQUAL 0)
    message(SEND_ERROR "\"${url}\" was accepted")
  else()
    string(FIND "${err}" "${expected}" at)
    if(at EQUAL -1)
      message(SEND_ERROR "\"${url}\" was refused without saying \"${expected}\": ${err}")
    endif()
  endif()
endforeach()

# The project itself: a plain-HTTP URL stops the configuration with the reason.
file(REMOVE_RECURSE ${WORK_DIR}/http-build)
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/http-build -DTALVORA_BUILD_TESTS=OFF
                        -DTALVORA_PATCH_URL=http://127.0.0.1:8080/patch
                RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
file(REMOVE_RECURSE ${WORK_DIR}/http-build)
string(REGEX REPLACE "[ \t\r\n]+" " " err "${err}")
if(code EQUAL 0)
  message(SEND_ERROR "the project configures with http://127.0.0.1:8080/patch")
else()
  string(FIND "${err}" "must begin with https://" at)
  if(at EQUAL -1)
    message(SEND_ERROR "the configuration stopped without the reason: ${err}")
  endif()
endif()
