# Tests of the dialog.

# The conversion of typed values and the preview's arithmetic, natively and under Wine.
add_executable(dialog_parse_tests dialog_parse_test.cpp dialog_preview_test.cpp)
target_link_libraries(dialog_parse_tests PRIVATE corvanel_dialog ${GTEST_MAIN_TARGET})
corvanel_add_test(dialog_parse_tests)

if(WIN32)
  # The real dialog of the real .8bf, driven under Wine and Xvfb through the filter host.
  add_executable(dialog_tests dialog_test.cpp support/DialogDriver_win.cpp)
  target_link_libraries(dialog_tests PRIVATE corvanel_imagefile corvanel_engine corvanel_oracle
                                             ${GTEST_MAIN_TARGET} user32 gdi32 comctl32)
  add_dependencies(dialog_tests Corvanel corvanel)
  corvanel_add_test(dialog_tests)
  # The same tests at 150 % and 200 %, with the display's resolution set in the prefix.
  if(NOT (CMAKE_SIZEOF_VOID_P EQUAL 4 AND NOT CORVANEL_RUN_WIN32_TESTS))
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      set(wine_arch win32)
    else()
      set(wine_arch win64)
    endif()
    foreach(dpi 144 192)
      add_test(NAME dialog_tests_${dpi}dpi
               COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/at_resolution.sh ${wine_arch} ${dpi}
                       $<TARGET_FILE:dialog_tests>)
      set_tests_properties(dialog_tests_${dpi}dpi PROPERTIES TIMEOUT ${CORVANEL_PROGRAM_TIMEOUT})
    endforeach()
  endif()
endif()
