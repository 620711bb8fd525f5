# Tests of the runner.
add_executable(runner_tests runner_host_test.cpp runner_pipl_test.cpp runner_settings_test.cpp
                            command_plan_test.cpp)
target_link_libraries(runner_tests PRIVATE corvanel_command ${GTEST_MAIN_TARGET})
corvanel_add_test(runner_tests)

if(NOT WIN32)
  # Image files through libvips, read back with libvips itself.
  add_executable(runner_image_tests runner_image_test.cpp)
  target_link_libraries(runner_image_tests PRIVATE corvanel_imagefile PkgConfig::VIPS
                                                   ${GTEST_MAIN_TARGET})
  corvanel_add_test(runner_image_tests)

  add_executable(runner_command_tests runner_command_test.cpp)
  target_compile_definitions(runner_command_tests PRIVATE CORVANEL="$<TARGET_FILE:corvanel>"
                                                          SAMPLE="$<TARGET_FILE:corvanel_sample>")
  target_link_libraries(runner_command_tests PRIVATE corvanel_command PkgConfig::VIPS
                                                     ${GTEST_MAIN_TARGET})
  add_dependencies(runner_command_tests corvanel corvanel_sample)
  gtest_discover_tests(runner_command_tests DISCOVERY_TIMEOUT 120
                       PROPERTIES TIMEOUT ${CORVANEL_CASE_TIMEOUT})
endif()

if(WIN32)
  # Image files through the Windows Imaging Component, and the fuzz corpus fed to it.
  add_executable(runner_wic_tests runner_wic_test.cpp)
  target_compile_definitions(runner_wic_tests
                             PRIVATE FUZZ_CORPUS="${PROJECT_SOURCE_DIR}/fuzz/corpus/fuzz_image_load")
  target_link_libraries(runner_wic_tests PRIVATE corvanel_imagefile windowscodecs ole32 uuid
                                                 ${GTEST_MAIN_TARGET})
  corvanel_add_test(runner_wic_tests)
endif()

# The same files from the native command and from corvanel.exe with the real .8bf under
# Wine, in whichever Windows tree can run here. The native tree is the sibling ./dev builds.
set(CORVANEL_NATIVE_TREE ${CMAKE_BINARY_DIR}/../native CACHE PATH "The native build tree")
if(WIN32 AND (CMAKE_SIZEOF_VOID_P EQUAL 8 OR CORVANEL_RUN_WIN32_TESTS))
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(wine_arch win64)
  else()
    set(wine_arch win32)
  endif()
  add_test(NAME runner_cross_check
           COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/runner_cross_check.sh ${CORVANEL_NATIVE_TREE}
                   ${CMAKE_BINARY_DIR} ${wine_arch} ${CMAKE_CURRENT_BINARY_DIR}/cross_check)
  add_test(NAME runner_windows_command_check
           COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/runner_windows_command_check.sh
                   ${CORVANEL_NATIVE_TREE} ${CMAKE_BINARY_DIR} ${wine_arch}
                   ${CMAKE_CURRENT_BINARY_DIR}/windows_command_check)
  set_tests_properties(runner_cross_check runner_windows_command_check
                       PROPERTIES CROSSCOMPILING_EMULATOR "" TIMEOUT ${CORVANEL_PROGRAM_TIMEOUT})
endif()

# The README's formats table against what each build's --help says.
if(NOT WIN32)
  add_test(NAME readme_formats
           COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/readme_formats_check.sh
                   ${PROJECT_SOURCE_DIR}/README.md "Linux `corvanel`" $<TARGET_FILE:corvanel>)
  set_tests_properties(readme_formats PROPERTIES TIMEOUT ${CORVANEL_CASE_TIMEOUT})
elseif(CMAKE_SIZEOF_VOID_P EQUAL 8 OR CORVANEL_RUN_WIN32_TESTS)
  add_test(NAME readme_formats
           COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/readme_formats_check.sh
                   ${PROJECT_SOURCE_DIR}/README.md "Windows `corvanel.exe`"
                   ${PROJECT_SOURCE_DIR}/cmake/wine-run ${wine_arch} $<TARGET_FILE:corvanel>)
  set_tests_properties(readme_formats PROPERTIES CROSSCOMPILING_EMULATOR "" TIMEOUT
                                                 ${CORVANEL_PROGRAM_TIMEOUT})
endif()
