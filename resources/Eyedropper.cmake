# The eyedropper cursor is drawn as text (Eyedropper.txt) and turned into a .cur while the
# plug-in is built, by a small tool compiled for the build machine: the Windows compilers'
# programs cannot run here. Included where the plug-in target is defined.
find_program(CORVANEL_BUILD_CXX NAMES c++ g++ REQUIRED)
set(CORVANEL_CURSOR_DIR ${CMAKE_BINARY_DIR}/resources)
set(CORVANEL_CURSOR ${CORVANEL_CURSOR_DIR}/Eyedropper.cur)
add_custom_command(
  OUTPUT ${CORVANEL_CURSOR}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CORVANEL_CURSOR_DIR}
  COMMAND ${CORVANEL_BUILD_CXX} -std=c++17 -Wall -Wextra -Werror -o ${CORVANEL_CURSOR_DIR}/MakeCursor
          ${CMAKE_SOURCE_DIR}/tools/MakeCursor.cpp
  COMMAND ${CORVANEL_CURSOR_DIR}/MakeCursor ${CMAKE_SOURCE_DIR}/resources/Eyedropper.txt
          ${CORVANEL_CURSOR}
  DEPENDS ${CMAKE_SOURCE_DIR}/tools/MakeCursor.cpp ${CMAKE_SOURCE_DIR}/resources/Eyedropper.txt
  COMMENT "Drawing the eyedropper cursor"
  VERBATIM)
target_sources(Corvanel PRIVATE ${CORVANEL_CURSOR})
set_source_files_properties(${CMAKE_SOURCE_DIR}/resources/Corvanel.rc PROPERTIES OBJECT_DEPENDS
                                                                           ${CORVANEL_CURSOR})
target_include_directories(Corvanel PRIVATE ${CORVANEL_CURSOR_DIR})
