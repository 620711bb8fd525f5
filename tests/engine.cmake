# Tests of the engine.

# The plain reading of the effect rules that every fast path is checked against; the
# benchmarks time it too.
add_library(corvanel_oracle STATIC ${CMAKE_CURRENT_SOURCE_DIR}/oracle/Oracle.cpp)
target_link_libraries(corvanel_oracle PUBLIC corvanel_warnings)

add_executable(engine_tests engine_test.cpp oracle/oracle_compare_test.cpp start_test.cpp)
target_link_libraries(engine_tests PRIVATE corvanel_oracle corvanel_plugin ${GTEST_MAIN_TARGET})
corvanel_add_test(engine_tests)
