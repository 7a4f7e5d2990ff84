# Cross build for Windows with Debian's MinGW-w64 toolchain (x86_64-w64-mingw32).
# The posix threading variant of the compilers is used because it gives the
# C++ runtime its threads and mutexes; the runtime, winpthread included, is
# linked statically so the module needs no DLL besides the system's.
#
#   cmake -S . -B build-windows/x86_64 -G Ninja \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# Libraries for the target (libjpeg-turbo, Highway) are found in
# build-windows/deps/x86_64-w64-mingw32, made by scripts/build-windows-deps, or in
# KELVO_WINDOWS_DEPS when set.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KELVO_MINGW_TRIPLE x86_64-w64-mingw32)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake")
