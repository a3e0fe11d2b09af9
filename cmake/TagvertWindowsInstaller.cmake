# Tagvert: the Windows installer, tagvert-<version>-setup.exe, made by NSIS (makensis) from
# packaging/windows/tagvert.nsi in the 64-bit build. It carries this build's tagvert.dll and
# tagvert.exe and, when the mingw32 preset has been built first, the 32-bit tagvert.dll.
# SPDX-License-Identifier: Apache-2.0
set(TAGVERT_MINGW32_DLL "${PROJECT_SOURCE_DIR}/build/mingw32/tagvert.dll" CACHE FILEPATH
    "The 32-bit tagvert.dll: inspected by the tests and put into the installer when it exists")
if(NOT CMAKE_SIZEOF_VOID_P EQUAL 8)
  return()
endif()
find_program(TAGVERT_MAKENSIS makensis)
if(NOT TAGVERT_MAKENSIS)
  message(STATUS "makensis not found (Debian package nsis): no Windows installer")
  return()
endif()

set(TAGVERT_INSTALLER ${PROJECT_BINARY_DIR}/tagvert-${PROJECT_VERSION}-setup.exe)
set(nsi ${PROJECT_SOURCE_DIR}/packaging/windows/tagvert.nsi)
set(defines -DVERSION=${PROJECT_VERSION} -DOUTFILE=${TAGVERT_INSTALLER}
    -DDLL64=$<TARGET_FILE:tagvert_com> -DEXE64=$<TARGET_FILE:tagvert>)
set(depends ${nsi} tagvert_com tagvert)
if(EXISTS ${TAGVERT_MINGW32_DLL})
  list(APPEND defines -DDLL32=${TAGVERT_MINGW32_DLL})
  list(APPEND depends ${TAGVERT_MINGW32_DLL})
else()
  message(STATUS "No 32-bit DLL at ${TAGVERT_MINGW32_DLL} (build the mingw32 preset first): "
                 "the installer serves 64-bit hosts only")
endif()
add_custom_command(
  OUTPUT ${TAGVERT_INSTALLER}
  COMMAND ${TAGVERT_MAKENSIS} -V2 -NOCD ${defines} ${nsi}
  DEPENDS ${depends}
  COMMENT "Making the Windows installer tagvert-${PROJECT_VERSION}-setup.exe"
  VERBATIM)
add_custom_target(installer ALL DEPENDS ${TAGVERT_INSTALLER})
