# Tagvert: what `cmake --install` puts where (GNUInstallDirs), and the .deb made by CPack.
# SPDX-License-Identifier: Apache-2.0
include(CMakePackageConfigHelpers)

# The command, the library and the public headers.
install(TARGETS tagvert RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS tagvert_lib EXPORT TagvertTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/tagvert ${TAGVERT_GENERATED_INCLUDE_DIR}/tagvert
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} FILES_MATCHING PATTERN "*.h")

# The CMake package: find_package(Tagvert CONFIG) gives Tagvert::tagvert and Tagvert_VERSION.
set(TAGVERT_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Tagvert)
install(EXPORT TagvertTargets NAMESPACE Tagvert:: DESTINATION ${TAGVERT_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/TagvertConfig.cmake.in
  ${PROJECT_BINARY_DIR}/TagvertConfig.cmake INSTALL_DESTINATION ${TAGVERT_CMAKE_DIR})
# Before 1.0 every minor version may break; from 1.0 on the major version says so.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/TagvertConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/TagvertConfig.cmake
  ${PROJECT_BINARY_DIR}/TagvertConfigVersion.cmake DESTINATION ${TAGVERT_CMAKE_DIR})

# The pkg-config file. Its prefix is found from the file's own place, so the tree can be
# installed anywhere (cmake --install --prefix, the .deb) without editing it.
set(TAGVERT_PC_PREFIX "\${pcfiledir}")
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(TAGVERT_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  string(REPLACE "/" ";" libdir_parts "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
  foreach(part ${libdir_parts})
    string(APPEND TAGVERT_PC_PREFIX "/..")
  endforeach()
endif()
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(TAGVERT_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(TAGVERT_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/cmake/tagvert.pc.in ${PROJECT_BINARY_DIR}/tagvert.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/tagvert.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The man page (the version is filled in from the project's) and the bash completion.
configure_file(${PROJECT_SOURCE_DIR}/share/man/man1/tagvert.1.in
  ${PROJECT_BINARY_DIR}/share/man/man1/tagvert.1 @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/share/man/man1/tagvert.1
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/share/bash-completion/completions/tagvert
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# The .deb: `cpack -G DEB` in the build folder (or `cmake --build BUILD --target package`).
set(CPACK_PACKAGE_NAME tagvert)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
  "The tagvert command, its manual page and bash completion, and the C++ library with its\
 headers, CMake package and pkg-config file.")
set(CPACK_PACKAGE_VENDOR "The Tagvert developers")
set(CPACK_PACKAGE_CONTACT "The Tagvert developers <tagvert@localhost>")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION text)
find_program(TAGVERT_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(TAGVERT_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
  # The XLIFF commands read XML with expat.
  if(TARGET tagvert_xliff)
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libexpat1")
  endif()
endif()
include(CPack)

if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/TagvertWindowsInstaller.cmake)
endif()
