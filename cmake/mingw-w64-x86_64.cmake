# Cross-compiling for Windows x86-64 with Debian's mingw-w64 (posix threads).
# Programs built for the target run on this machine through Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TAVRO_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TAVRO_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TAVRO_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TAVRO_MINGW_PREFIX}-windres)

# Windows x64 only keeps the stack 16-byte aligned, and GCC spills AVX
# registers with aligned 32-byte moves; the assembler turns every aligned
# vector move into an unaligned one so AVX code cannot fault on the stack.
set(CMAKE_C_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")
set(CMAKE_CXX_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")

# Programs and DLLs carry the GCC, C++ and winpthread runtimes inside them,
# so nothing beside the system DLLs has to ship with them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Search the target's sysroot (and the dependency prefix passed through
# CMAKE_PREFIX_PATH) for libraries and headers, never the build machine's.
set(CMAKE_FIND_ROOT_PATH /usr/${TAVRO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under Wine (ctest, gtest discovery).
find_program(TAVRO_WINE wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(TAVRO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TAVRO_WINE})
endif()

# The prefix that scripts/build-windows.sh builds libyuv, OpenCV and
# googletest into.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TAVRO_WIN_DEPS)
if(TAVRO_WIN_DEPS)
  list(APPEND CMAKE_FIND_ROOT_PATH ${TAVRO_WIN_DEPS})
endif()
