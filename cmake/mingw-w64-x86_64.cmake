# Cross build for 64-bit Windows with Debian's mingw-w64 (posix threads).
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The executables link the C and C++ runtimes and winpthread statically, so
# they run on a bare Windows installation (and under Wine) with no extra DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZW_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZW_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZW_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ZW_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZW_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The logic formats with %lld and friends through vsnprintf; mingw's own
# stdio implements them on every Windows version, msvcrt's does not.
set(CMAKE_C_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=1")
set(CMAKE_CXX_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=1")

set(ZW_MINGW_STATIC "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${ZW_MINGW_STATIC}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${ZW_MINGW_STATIC}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${ZW_MINGW_STATIC}")

# Lets ctest run the cross-built test programs on this machine.
find_program(ZW_WINE_PROGRAM NAMES wine wine64)
if(ZW_WINE_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZW_WINE_PROGRAM})
endif()
