# Tagvert: build helpers shared by every subsystem.
# SPDX-License-Identifier: Apache-2.0

# tagvert_add_library(name DEPS dep...): a static library from every .cpp of the
# calling folder, with the warning list applied and src/ and the public include/ on the include
# path. Its symbols are hidden except those the public headers mark TAGVERT_API, so that the
# public library built from these objects exports only its API.
function(tagvert_add_library name)
  cmake_parse_arguments(ARG "" "" "DEPS;SOURCES" ${ARGN})
  if(ARG_SOURCES)
    set(sources ${ARG_SOURCES})
  else()
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  endif()
  if(NOT sources)
    # A subsystem whose sources have not been written yet: headers only.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src
      ${PROJECT_SOURCE_DIR}/include ${TAGVERT_GENERATED_INCLUDE_DIR})
    if(ARG_DEPS)
      target_link_libraries(${name} INTERFACE ${ARG_DEPS})
    endif()
    return()
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src
    ${PROJECT_SOURCE_DIR}/include ${TAGVERT_GENERATED_INCLUDE_DIR})
  target_compile_options(${name} PRIVATE ${TAGVERT_WARNINGS})
  target_compile_definitions(${name} PUBLIC TAGVERT_BUILDING_LIBRARY)
  set_target_properties(${name} PROPERTIES CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  if(ARG_DEPS)
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  endif()
endfunction()

# tagvert_add_test(name DEPS dep...): one GoogleTest binary from every *_test.cpp of
# the calling folder, registered as one CTest test.
function(tagvert_add_test name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  target_compile_options(${name} PRIVATE ${TAGVERT_WARNINGS})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} tagvert_testsupport GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    TAGVERT_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data"
    TAGVERT_SAMPLES_DIR="${TAGVERT_SAMPLES_DIR}")
  add_test(NAME ${name} COMMAND ${name})
endfunction()

# tagvert_strict_warnings([COM] TARGETS target... SOURCES file...): the strict warning set on
# whole targets, or on single files of a target whose other files do not pass it yet (call it in
# the folder that declares that target: file properties belong to their folder). COM: the target
# implements COM interfaces, which have no virtual destructor by design (an object is destroyed
# through Release, never through an interface pointer), so -Wnon-virtual-dtor is left out.
function(tagvert_strict_warnings)
  cmake_parse_arguments(ARG "COM" "" "TARGETS;SOURCES" ${ARGN})
  set(flags ${TAGVERT_STRICT_WARNINGS})
  if(ARG_COM)
    list(REMOVE_ITEM flags -Wnon-virtual-dtor)
  endif()
  foreach(target ${ARG_TARGETS})
    target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${flags}>)
  endforeach()
  if(ARG_SOURCES)
    set_property(SOURCE ${ARG_SOURCES} APPEND PROPERTY COMPILE_OPTIONS ${flags})
  endif()
endfunction()
