# quorvik_add_module(NAME [DEPS lib...]): the static library of one module folder, made of every
# .cpp file in the folder. Includes are written from the repository root
# ("foundation/CTensor.h"). A folder without sources yet gives an interface library so that
# dependants link the same way.
function(quorvik_add_module name)
  cmake_parse_arguments(M "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${M_DEPS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${M_DEPS})
  endif()
endfunction()

# quorvik_add_test_folder(FOLDER LIBS lib...): one GoogleTest executable from every .cpp file
# of tests/FOLDER; its tests are registered with CTest as FOLDER/Suite.Test, so
# `ctest -R graph/` runs one area.
function(quorvik_add_test_folder folder)
  cmake_parse_arguments(T "" "" "LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*.cpp)
  if(NOT sources)
    return()
  endif()
  set(target test_${folder})
  add_executable(${target} ${sources})
  target_link_libraries(${target} PRIVATE quorvik_testmain ${T_LIBS} GTest::gtest)
  target_compile_definitions(${target} PRIVATE
    QUORVIK_BINARY_DIR="${PROJECT_BINARY_DIR}" QUORVIK_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  gtest_discover_tests(${target} TEST_PREFIX "${folder}/" DISCOVERY_TIMEOUT 120)
endfunction()
