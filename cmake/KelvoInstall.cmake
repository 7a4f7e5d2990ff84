# Installation of the image library: the shared library, the public headers
# under include/kelvo/, a pkg-config module (kelvo-imaging) and a CMake
# package (find_package(Kelvo), target Kelvo::imaging).
#
# libjpeg and Highway are private to the shared library: they appear in
# neither the exported target nor the pkg-config module's public flags, and
# no installed header includes them.
#
# Everything here is in the install component "imaging", so the library can
# be installed on its own: cmake --install build --component imaging. The
# licence (LGPL 2.1 or later) is installed beside the documentation and
# declared in both the pkg-config module and the CMake package.
include(CMakePackageConfigHelpers)

set(KELVO_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/Kelvo")

# Exported as Kelvo::imaging, the same name as the alias inside this build.
set_target_properties(kelvo_imaging PROPERTIES EXPORT_NAME imaging)

install(TARGETS kelvo_imaging EXPORT KelvoTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT imaging
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT imaging
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT imaging)

# Public headers keep their repository paths below include/kelvo/, so
# <kelvo/imaging.h> and "imaging/core/BitmapData.h" both resolve. Private
# helpers (detail/), the scalar references and the Highway kernels stay out.
install(DIRECTORY include/kelvo DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT imaging)
install(DIRECTORY imaging/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kelvo/imaging
        COMPONENT imaging
        FILES_MATCHING PATTERN "*.h"
        PATTERN "detail" EXCLUDE
        PATTERN "reference" EXCLUDE
        PATTERN "*-inl.h" EXCLUDE)

install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT imaging)

install(EXPORT KelvoTargets NAMESPACE Kelvo:: DESTINATION ${KELVO_CMAKE_DIR} COMPONENT imaging)
configure_package_config_file(cmake/KelvoConfig.cmake.in
  "${CMAKE_CURRENT_BINARY_DIR}/KelvoConfig.cmake"
  INSTALL_DESTINATION ${KELVO_CMAKE_DIR})
write_basic_package_version_file("${CMAKE_CURRENT_BINARY_DIR}/KelvoConfigVersion.cmake"
  COMPATIBILITY SameMajorVersion)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/KelvoConfig.cmake"
              "${CMAKE_CURRENT_BINARY_DIR}/KelvoConfigVersion.cmake"
        DESTINATION ${KELVO_CMAKE_DIR} COMPONENT imaging)

# The pkg-config module finds its prefix from its own location, so an
# installation moved or made with `cmake --install --prefix` stays usable.
set(KELVO_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
set(KELVO_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(KELVO_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(KELVO_PC_LIBDIR_PATH "${CMAKE_INSTALL_FULL_LIBDIR}")
  set(KELVO_PC_INCLUDEDIR_PATH "${CMAKE_INSTALL_FULL_INCLUDEDIR}")
else()
  file(RELATIVE_PATH pc_up "/kelvo-root/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/kelvo-root")
  string(REGEX REPLACE "/$" "" pc_up "${pc_up}")
  set(KELVO_PC_PREFIX "\${pcfiledir}/${pc_up}")
  set(KELVO_PC_LIBDIR_PATH "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
  set(KELVO_PC_INCLUDEDIR_PATH "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
configure_file(cmake/kelvo-imaging.pc.in "${CMAKE_CURRENT_BINARY_DIR}/kelvo-imaging.pc" @ONLY)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/kelvo-imaging.pc"
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT imaging)
