# Cross-compiling for 64-bit Windows with Debian's mingw-w64
# (g++-mingw-w64-x86-64-posix). Use:
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(mingw_prefix x86_64-w64-mingw32)
# The posix flavour: its libstdc++ has std::thread, which GoogleTest wants.
find_program(CMAKE_CXX_COMPILER NAMES ${mingw_prefix}-g++-posix ${mingw_prefix}-g++ REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${mingw_prefix}-gcc-posix ${mingw_prefix}-gcc)
find_program(CMAKE_RC_COMPILER NAMES ${mingw_prefix}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${mingw_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program runs on a bare Windows: the C++ runtime, libgcc and
# winpthread are linked in, so no DLL of the compiler's has to travel along.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests run the cross-compiled programs through Wine, unless the command
# line names another runner (tests/windows/run bounds Wine with `timeout`).
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(wine_program NAMES wine64 wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
  if(NOT wine_program)
    find_program(wine_program NAMES wine64 wine)
  endif()
  if(wine_program)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${wine_program} CACHE STRING "Runs the cross-compiled programs")
  endif()
endif()
