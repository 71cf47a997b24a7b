# quorvik_add_module(NAME SOURCES file... [DEPS lib...]): the static library of one module
# folder from its listed sources. Includes are written from the repository root
# ("foundation/CTensor.h"); DEPS are exactly the libraries whose headers the module includes
# (the layer table in the README says which those may be; tests/layers checks it).
function(quorvik_add_module name)
  cmake_parse_arguments(M "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${M_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${M_DEPS})
endfunction()

# quorvik_add_test_folder(FOLDER SOURCES file... LIBS lib...): one GoogleTest executable from the
# listed files of tests/FOLDER; its tests are registered with CTest as FOLDER/Suite.Test, so
# `ctest -R graph/` runs one area.
function(quorvik_add_test_folder folder)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  set(target test_${folder})
  list(TRANSFORM T_SOURCES PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/)
  add_executable(${target} ${T_SOURCES})
  target_link_libraries(${target} PRIVATE quorvik_testmain ${T_LIBS} GTest::gtest)
  target_compile_definitions(${target} PRIVATE
    QUORVIK_BINARY_DIR="${PROJECT_BINARY_DIR}" QUORVIK_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  gtest_discover_tests(${target} TEST_PREFIX "${folder}/" DISCOVERY_TIMEOUT 120)
endfunction()
