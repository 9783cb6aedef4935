# Cross build for 64-bit Windows with Debian's mingw-w64 (posix threads).
# The programs link the C and C++ runtimes and winpthreads statically, so a
# bare Windows (or Wine) runs them without any DLL beside them.
#
#   cmake -S . -B build/windows -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/windows/mingw-w64-x86_64.cmake \
#         -DQZ_BUILD_APP=OFF -DQZ_BUILD_BENCH=OFF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(qz_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${qz_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${qz_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${qz_mingw}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${qz_mingw})
# OpenSSL cross-built for Windows (scripts/build-openssl-windows).
if(OPENSSL_ROOT_DIR)
  list(APPEND CMAKE_FIND_ROOT_PATH ${OPENSSL_ROOT_DIR})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static runtime: libgcc, libstdc++ and winpthreads inside each executable.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Windows 10 API level (WSAPoll, CreateFile2 and friends are declared).
add_compile_definitions(_WIN32_WINNT=0x0A00 WINVER=0x0A00 UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN)
# localtime_r and gmtime_r from the runtime's time.h (over localtime_s).
add_compile_definitions(_POSIX_THREAD_SAFE_FUNCTIONS=200112L)

# Tests run under Wine when cross-compiled (ctest and gtest discovery alike),
# with the Wine prefix in the build folder.
set(CMAKE_CROSSCOMPILING_EMULATOR env QZ_WINE_BUILD_DIR=${CMAKE_BINARY_DIR} ${CMAKE_CURRENT_LIST_DIR}/wine-run)
# Tests are listed when ctest runs, not while building: the build needs no Wine.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
