# Cross-builds for 64-bit Windows with Debian's MinGW-w64 GCC (the POSIX-thread variant, which
# std::thread and std::mutex need). TARVELIN_WINDOWS_DEPS names the prefix that scripts/build-windows
# fills with the static GLib, GMime and GoogleTest, TARVELIN_WINDOWS_QT the static Qt that
# scripts/windows-qt builds; both are searched like system roots.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)
set(CMAKE_AR ${triple}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${triple}-ranlib CACHE FILEPATH "")

# try_compile runs read this file again in a fresh project; the prefix has to travel with them.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TARVELIN_WINDOWS_DEPS TARVELIN_WINDOWS_QT)
if(NOT TARVELIN_WINDOWS_DEPS AND DEFINED ENV{TARVELIN_WINDOWS_DEPS})
  set(TARVELIN_WINDOWS_DEPS $ENV{TARVELIN_WINDOWS_DEPS})
endif()
set(CMAKE_FIND_ROOT_PATH /usr/${triple} ${TARVELIN_WINDOWS_DEPS} ${TARVELIN_WINDOWS_QT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything is linked in, so the programs run on a bare Windows with no DLL beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# The dependencies are static archives; only pkg-config's static view lists what they need
# from Windows itself (ws2_32, ole32, ...).
set(PKG_CONFIG_ARGN --static)
if(TARVELIN_WINDOWS_DEPS)
  set(ENV{PKG_CONFIG_LIBDIR} "${TARVELIN_WINDOWS_DEPS}/lib/pkgconfig:/usr/${triple}/lib/pkgconfig")
endif()

# CTest starts the test programs through Wine, by a wrapper that keeps Wine's services off
# CTest's output pipes.
find_program(TARVELIN_WINE NAMES wine)
if(TARVELIN_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-test-run)
endif()
