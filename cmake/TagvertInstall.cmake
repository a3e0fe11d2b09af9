# Tagvert: what `cmake --install` puts where (GNUInstallDirs), and the .deb made by CPack.
# SPDX-License-Identifier: Apache-2.0
include(CMakePackageConfigHelpers)

# The command, the library and the public headers, in the parts Debian splits a library into:
# the command (component "command"), the shared library ("library") and what a program built
# against the library needs ("development": headers, the link-time name, the static library,
# the CMake and pkg-config files).
install(TARGETS tagvert RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT command)
install(TARGETS tagvert_lib EXPORT TagvertTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT library
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library NAMELINK_COMPONENT development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/tagvert ${TAGVERT_GENERATED_INCLUDE_DIR}/tagvert
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development FILES_MATCHING PATTERN "*.h"
  # A build without expat has no XLIFF bridge in its library.
  PATTERN "xliff.h" EXCLUDE)
if(TARGET tagvert_xliff)
  install(FILES ${PROJECT_SOURCE_DIR}/include/tagvert/xliff.h
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tagvert COMPONENT development)
  # A static library brings expat to every program that links it (pkg-config without --static
  # too); a shared one only to static links.
  if(BUILD_SHARED_LIBS)
    set(TAGVERT_PC_REQUIRES "Requires.private: expat")
  else()
    set(TAGVERT_PC_REQUIRES "Requires: expat")
  endif()
  set(TAGVERT_WITH_XLIFF ON)
else()
  set(TAGVERT_WITH_XLIFF OFF)
endif()

# The CMake package: find_package(Tagvert CONFIG) gives Tagvert::tagvert and Tagvert_VERSION.
set(TAGVERT_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Tagvert)
install(EXPORT TagvertTargets NAMESPACE Tagvert:: DESTINATION ${TAGVERT_CMAKE_DIR}
  COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/TagvertConfig.cmake.in
  ${PROJECT_BINARY_DIR}/TagvertConfig.cmake INSTALL_DESTINATION ${TAGVERT_CMAKE_DIR})
# Before 1.0 every minor version may break; from 1.0 on the major version says so.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/TagvertConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/TagvertConfig.cmake
  ${PROJECT_BINARY_DIR}/TagvertConfigVersion.cmake DESTINATION ${TAGVERT_CMAKE_DIR}
  COMPONENT development)

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
install(FILES ${PROJECT_BINARY_DIR}/tagvert.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT development)

# The man page (the version is filled in from the project's; installed compressed, as manual
# pages are) and the bash completion.
configure_file(${PROJECT_SOURCE_DIR}/share/man/man1/tagvert.1.in
  ${PROJECT_BINARY_DIR}/share/man/man1/tagvert.1 @ONLY)
find_program(TAGVERT_GZIP gzip)
if(TAGVERT_GZIP)
  # -n: no name or time stamp in the header, so the same page gives the same bytes.
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/share/man/man1/tagvert.1.gz
    COMMAND ${TAGVERT_GZIP} -9nc ${PROJECT_BINARY_DIR}/share/man/man1/tagvert.1
            > ${PROJECT_BINARY_DIR}/share/man/man1/tagvert.1.gz
    DEPENDS ${PROJECT_BINARY_DIR}/share/man/man1/tagvert.1 VERBATIM)
  add_custom_target(tagvert_man ALL DEPENDS ${PROJECT_BINARY_DIR}/share/man/man1/tagvert.1.gz)
  install(FILES ${PROJECT_BINARY_DIR}/share/man/man1/tagvert.1.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT command)
else()
  install(FILES ${PROJECT_BINARY_DIR}/share/man/man1/tagvert.1
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT command)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/share/bash-completion/completions/tagvert
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT command)

# Each package's copyright file and change log, where Debian keeps them.
set(TAGVERT_DEB_PACKAGES command tagvert development libtagvert-dev)
if(BUILD_SHARED_LIBS)
  list(APPEND TAGVERT_DEB_PACKAGES library libtagvert${PROJECT_VERSION_MAJOR})
endif()
if(TAGVERT_GZIP)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/packaging/changelog.gz
    COMMAND ${TAGVERT_GZIP} -9nc ${PROJECT_SOURCE_DIR}/packaging/debian/changelog
            > ${PROJECT_BINARY_DIR}/packaging/changelog.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog VERBATIM)
  add_custom_target(tagvert_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
  file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/packaging)
endif()
while(TAGVERT_DEB_PACKAGES)
  list(POP_FRONT TAGVERT_DEB_PACKAGES component package)
  set(doc ${CMAKE_INSTALL_DATADIR}/doc/${package})
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright DESTINATION ${doc}
    COMPONENT ${component})
  if(TAGVERT_GZIP)
    install(FILES ${PROJECT_BINARY_DIR}/packaging/changelog.gz DESTINATION ${doc}
      RENAME changelog.gz COMPONENT ${component})
  endif()
  string(TOUPPER ${component} upper)
  set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${package})
endwhile()

# The .debs: `cpack -G DEB` in the build folder (or `cmake --workflow --preset dist`). A shared
# build gives tagvert, libtagvertN and libtagvert-dev; a static one tagvert and libtagvert-dev
# (with the static library).
set(CPACK_PACKAGE_NAME tagvert)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# Each package's description starts with its own summary line (an empty project-wide summary
# keeps CPack from putting the same one in front of all three).
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_PACKAGE_VENDOR "The Tagvert developers")
set(CPACK_PACKAGE_CONTACT "The Tagvert developers <tagvert-developers@tagvert.org>")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL command development)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION text)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMMAND_DESCRIPTION "convert TTX documents to a translation kernel's format and back
The tagvert command converts TTX documents to the internal format (IF) of a
machine translation kernel and the translated IF back to TTX, keeping every
byte of the markup. It also shows, counts, checks and pseudo-translates them.")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "TTX to translation-kernel format converter - development files
The C++ headers of the Tagvert library, which converts TTX documents to the
internal format of a machine translation kernel and back, with its CMake
package (find_package(Tagvert)) and its pkg-config file.")
find_program(TAGVERT_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(TAGVERT_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
  # The XLIFF bridge reads XML with expat.
  if(TARGET tagvert_xliff)
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libexpat1")
  endif()
endif()
# A program built against the library links expat too (its static library, its pkg-config file
# and its CMake package ask for it).
if(TARGET tagvert_xliff)
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libexpat1-dev")
endif()
if(BUILD_SHARED_LIBS)
  list(APPEND CPACK_COMPONENTS_ALL library)
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_LIBRARY_DESCRIPTION "TTX to translation-kernel format converter - shared library
The Tagvert library converts TTX documents to the internal format (IF) of a
machine translation kernel and the translated IF back to TTX, keeping every
byte of the markup.")
  # The shlibs file lets packages built against the library depend on this version or later.
  # The linker cache is refreshed by dpkg's ldconfig trigger, not by scripts of the package's
  # own (the package's postinst and postrm do nothing: without them CPack writes scripts that call
  # ldconfig).
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/triggers
    ${PROJECT_SOURCE_DIR}/packaging/debian/postinst ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS
    "libtagvert${PROJECT_VERSION_MAJOR} (= ${PROJECT_VERSION})")
  if(TARGET tagvert_xliff)
    string(APPEND CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS ", libexpat1-dev")
  endif()
endif()
include(CPack)

if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/TagvertWindowsInstaller.cmake)
endif()
