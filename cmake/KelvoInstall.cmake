# Installation of the image library: the shared library, the public headers
# under include/kelvo/, a pkg-config module and a CMake package.
include(CMakePackageConfigHelpers)

install(TARGETS kelvo_imaging EXPORT KelvoTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY include/kelvo DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY imaging/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kelvo/imaging
        FILES_MATCHING PATTERN "*.h"
        PATTERN "detail" EXCLUDE PATTERN "reference" EXCLUDE)

install(EXPORT KelvoTargets NAMESPACE Kelvo:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Kelvo)
configure_package_config_file(cmake/KelvoConfig.cmake.in
  "${CMAKE_CURRENT_BINARY_DIR}/KelvoConfig.cmake"
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Kelvo)
write_basic_package_version_file("${CMAKE_CURRENT_BINARY_DIR}/KelvoConfigVersion.cmake"
  COMPATIBILITY SameMajorVersion)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/KelvoConfig.cmake"
              "${CMAKE_CURRENT_BINARY_DIR}/KelvoConfigVersion.cmake"
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Kelvo)

configure_file(cmake/kelvo-imaging.pc.in "${CMAKE_CURRENT_BINARY_DIR}/kelvo-imaging.pc" @ONLY)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/kelvo-imaging.pc"
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
