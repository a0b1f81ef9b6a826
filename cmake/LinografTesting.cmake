# Helpers shared by the test, benchmark and fuzz folders.
include(GoogleTest)

# linograf_add_test(NAME <name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>])
# One GoogleTest program; every TEST becomes its own CTest case. Windows run on Qt's
# offscreen platform so the suite needs no display.
function(linograf_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} linograf_test_support GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${T_NAME}
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT ${T_TIMEOUT})
  # List-valued properties cannot pass through gtest_discover_tests' PROPERTIES (a second label or
  # variable would be taken for a property name), so they are set on the discovered tests by a
  # script of our own that ctest reads after the discovered list.
  set(environment "QT_QPA_PLATFORM=offscreen;LINOGRAF_SOURCE_DIR=${PROJECT_SOURCE_DIR};LINOGRAF_BINARY_DIR=${PROJECT_BINARY_DIR}")
  set(script "${CMAKE_CURRENT_BINARY_DIR}/${T_NAME}_properties.cmake")
  file(WRITE "${script}"
    "if(DEFINED ${T_NAME}_TESTS)\n"
    "  set_tests_properties(\${${T_NAME}_TESTS} PROPERTIES LABELS \"${T_LABELS}\" ENVIRONMENT \"${environment}\")\n"
    "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${script}")
endfunction()

# linograf_add_bench(NAME <name> SOURCES <files...> LIBS <targets...>)
function(linograf_add_bench)
  cmake_parse_arguments(B "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${B_NAME} ${B_SOURCES})
  target_link_libraries(${B_NAME} PRIVATE ${B_LIBS} benchmark::benchmark)
  # The benchmarks' shared headers ("bench/bench_clock.h"), and nothing else of the source tree:
  # the libraries' layering holds for the benchmarks too.
  set(root "${PROJECT_BINARY_DIR}/include/bench")
  file(MAKE_DIRECTORY "${root}")
  file(CREATE_LINK "${PROJECT_SOURCE_DIR}/bench" "${root}/bench" SYMBOLIC)
  target_include_directories(${B_NAME} PRIVATE "${root}")
endfunction()

# linograf_add_fuzzer(NAME <name> SOURCES <files...> LIBS <targets...>)
# Built only with clang (-fsanitize=fuzzer); the CI sanitizer build runs each for a bounded time.
function(linograf_add_fuzzer)
  cmake_parse_arguments(F "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${F_NAME} ${F_SOURCES})
  target_compile_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
  target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${F_NAME} PRIVATE ${F_LIBS})
endfunction()
