# zlib, minizip and GoogleTest, all from Debian's packages (minizip for Windows
# is compiled from Debian's zlib source package, fetched by scripts/setup.sh).

if(WIN32)
  find_library(VANTLE_ZLIB_A NAMES libz.a z REQUIRED)
  find_path(VANTLE_ZLIB_INCLUDE zlib.h REQUIRED)
  add_library(vantle_zlib INTERFACE)
  target_link_libraries(vantle_zlib INTERFACE ${VANTLE_ZLIB_A})
  target_include_directories(vantle_zlib INTERFACE ${VANTLE_ZLIB_INCLUDE})

  set(VANTLE_ZLIB_SOURCE "${CMAKE_SOURCE_DIR}/build/deps/zlib-src" CACHE PATH
      "Debian zlib source tree (scripts/setup.sh unpacks it)")
  set(_mz ${VANTLE_ZLIB_SOURCE}/contrib/minizip)
  if(NOT EXISTS ${_mz}/unzip.c)
    message(FATAL_ERROR "minizip sources not found in ${_mz}; run scripts/setup.sh")
  endif()
  add_library(vantle_minizip STATIC ${_mz}/ioapi.c ${_mz}/unzip.c ${_mz}/zip.c)
  # Third-party code: keep its warnings out of our build log.
  target_compile_options(vantle_minizip PRIVATE -w)
  target_include_directories(vantle_minizip SYSTEM INTERFACE ${_mz})
  target_link_libraries(vantle_minizip PUBLIC vantle_zlib)
else()
  find_package(ZLIB REQUIRED)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(MINIZIP REQUIRED IMPORTED_TARGET minizip)
  add_library(vantle_zlib INTERFACE)
  target_link_libraries(vantle_zlib INTERFACE ZLIB::ZLIB)
  add_library(vantle_minizip INTERFACE)
  target_link_libraries(vantle_minizip INTERFACE PkgConfig::MINIZIP vantle_zlib)
endif()

# GoogleTest from Debian's googletest sources, compiled with this tree's compiler.
set(VANTLE_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${VANTLE_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

# add_vantle_test(name SOURCES ... LIBS ...): one GoogleTest executable, one
# ctest entry; the XML report is what scripts/test.sh counts for its summary.
function(add_vantle_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  vantle_warnings(${name})
  set(report ${CMAKE_BINARY_DIR}/test-reports/${name}.xml)
  if(WIN32 AND CMAKE_CROSSCOMPILING)
    set(report Z:${report})  # Wine shows the Linux root as drive Z:
  endif()
  add_test(NAME ${name} COMMAND ${name} --gtest_output=xml:${report})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "VANTLE_TEST_DATA=${CMAKE_SOURCE_DIR}/tests/data")
endfunction()
