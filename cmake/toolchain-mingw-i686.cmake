# Cross-compiling for 32-bit Windows with MinGW-w64 (posix threads): the product build. This kernel
# runs its programs only through qemu user emulation, where each process is slow to start, so CTest
# gets no emulator here: the unit suites run in the win64 build, and the product's programs run in the
# end-to-end suites, which start them under emulated wine32 themselves (tests/e2e/harness.py).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TALVORA_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
