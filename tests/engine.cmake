# Tests of the engine.

add_subdirectory(${CMAKE_CURRENT_SOURCE_DIR}/oracle)

add_executable(engine_tests engine_test.cpp oracle/oracle_compare_test.cpp)
# The tests look inside the engine.
target_link_libraries(engine_tests PRIVATE corvanel_oracle corvanel_plugin corvanel_engine_internals
                                           ${GTEST_MAIN_TARGET})
corvanel_add_test(engine_tests)
