# The terminology resource and the property-list entries that point at it are written from
# the parameter table while the plug-in is built, by a tool compiled for the build machine
# (the Windows compilers' programs cannot run here). Included where the plug-in target is
# defined, after Eyedropper.cmake, whose folder the resource script reads them from.
set(CORVANEL_TERMINOLOGY ${CORVANEL_CURSOR_DIR}/Terminology.aete)
set(CORVANEL_SCRIPTING_PROPERTIES ${CORVANEL_CURSOR_DIR}/ScriptingProperties.rci)
add_custom_command(
  OUTPUT ${CORVANEL_TERMINOLOGY} ${CORVANEL_SCRIPTING_PROPERTIES}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CORVANEL_CURSOR_DIR}
  COMMAND ${CORVANEL_BUILD_CXX} -std=c++20 -Wall -Wextra -Werror -I${CMAKE_SOURCE_DIR}
          -o ${CORVANEL_CURSOR_DIR}/MakeTerminology ${CMAKE_SOURCE_DIR}/tools/MakeTerminology.cpp
          ${CMAKE_SOURCE_DIR}/host/Terminology.cpp
  COMMAND ${CORVANEL_CURSOR_DIR}/MakeTerminology ${CORVANEL_TERMINOLOGY}
          ${CORVANEL_SCRIPTING_PROPERTIES}
  DEPENDS ${CMAKE_SOURCE_DIR}/tools/MakeTerminology.cpp ${CMAKE_SOURCE_DIR}/host/Terminology.cpp
          ${CMAKE_SOURCE_DIR}/host/Terminology.h ${CMAKE_SOURCE_DIR}/host/EffectParams.h
          ${CMAKE_SOURCE_DIR}/host/ScriptingIds.h ${CMAKE_SOURCE_DIR}/host/ScriptingTypes.h
  COMMENT "Writing the terminology resource"
  VERBATIM)
target_sources(Corvanel PRIVATE ${CORVANEL_TERMINOLOGY} ${CORVANEL_SCRIPTING_PROPERTIES})
set_property(SOURCE ${CMAKE_SOURCE_DIR}/resources/Corvanel.rc APPEND PROPERTY OBJECT_DEPENDS
                                                                 ${CORVANEL_TERMINOLOGY}
                                                                 ${CORVANEL_SCRIPTING_PROPERTIES})
