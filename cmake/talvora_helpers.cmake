# Helpers shared by the folders' CMakeLists.

# GoogleTest, built from Debian's sources with the current toolchain, once per build folder.
function(talvora_use_gtest)
  if(NOT TARGET gtest)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    # Third-party code: no -Werror of ours.
    target_compile_options(gtest PRIVATE -w)
    target_compile_options(gtest_main PRIVATE -w)
  endif()
endfunction()

# talvora_add_test(name SOURCES a.cpp b.cpp LIBS lib1 lib2 [LABELS l])
# One GoogleTest program, registered with CTest. Under the win64 preset CTest runs it through wine64
# (the toolchain's emulator); the working directory is a scratch folder of its own.
function(talvora_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  talvora_use_gtest()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} gtest gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  set(work ${CMAKE_BINARY_DIR}/testwork/${name})
  file(MAKE_DIRECTORY ${work})
  add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY ${work})
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()

# talvora_large_address_aware(target)
# A 32-bit Windows program marked large-address-aware (IMAGE_FILE_LARGE_ADDRESS_AWARE) gets 4 GiB of
# address space on 64-bit Windows instead of 2 GiB. No effect on other builds, where the mark does not
# exist or means nothing.
function(talvora_large_address_aware target)
  if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_link_options(${target} PRIVATE -Wl,--large-address-aware)
  endif()
endfunction()

# talvora_define_folder(target NAME folder)
# Gives a test program the path of a folder of the build as the string macro NAME, as the program
# sees it: under Wine the build folder is on drive Z:.
function(talvora_define_folder target name folder)
  if(WIN32)
    target_compile_definitions(${target} PRIVATE ${name}="Z:${folder}")
  else()
    target_compile_definitions(${target} PRIVATE ${name}="${folder}")
  endif()
endfunction()
