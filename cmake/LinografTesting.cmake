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
    PROPERTIES
      LABELS "${T_LABELS}"
      TIMEOUT ${T_TIMEOUT}
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LINOGRAF_SOURCE_DIR=${PROJECT_SOURCE_DIR};LINOGRAF_BINARY_DIR=${PROJECT_BINARY_DIR}")
endfunction()

# linograf_add_bench(NAME <name> SOURCES <files...> LIBS <targets...>)
function(linograf_add_bench)
  cmake_parse_arguments(B "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${B_NAME} ${B_SOURCES})
  target_link_libraries(${B_NAME} PRIVATE ${B_LIBS} benchmark::benchmark)
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
