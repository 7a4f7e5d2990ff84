# Shared part of the MinGW-w64 toolchain files: set CMAKE_SYSTEM_PROCESSOR and
# KELVO_MINGW_TRIPLE, then include this file.

set(CMAKE_C_COMPILER ${KELVO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KELVO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KELVO_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${KELVO_MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${KELVO_MINGW_TRIPLE}-ranlib CACHE FILEPATH "")

if(NOT KELVO_WINDOWS_DEPS)
  set(KELVO_WINDOWS_DEPS "${CMAKE_CURRENT_LIST_DIR}/../build-windows/deps/${KELVO_MINGW_TRIPLE}")
endif()
get_filename_component(KELVO_WINDOWS_DEPS "${KELVO_WINDOWS_DEPS}" ABSOLUTE)
set(CMAKE_FIND_ROOT_PATH /usr/${KELVO_MINGW_TRIPLE} "${KELVO_WINDOWS_DEPS}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config looks only at the target's libraries, never the build machine's.
set(ENV{PKG_CONFIG_LIBDIR} "${KELVO_WINDOWS_DEPS}/lib/pkgconfig:${KELVO_WINDOWS_DEPS}/share/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# GCC assumes 32-byte stack alignment for spilled AVX vectors, which the
# Windows calling conventions do not give; unaligned vector moves keep the
# AVX2 and AVX-512 Highway targets from faulting.
set(CMAKE_C_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")
set(CMAKE_CXX_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
