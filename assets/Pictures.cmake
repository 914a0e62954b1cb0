# The window pictures, drawn at build time by assets/draw.py into ${ORVEX_PICTURES_DIR}. Both builds
# draw them: the Windows program embeds them, the native tests check the skin's pixel rules on them.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
find_program(ORVEX_CONVERT convert REQUIRED)

set(ORVEX_PICTURES_DIR ${CMAKE_BINARY_DIR}/assets)
set(ORVEX_PICTURES ${ORVEX_PICTURES_DIR}/main_background.bmp ${ORVEX_PICTURES_DIR}/options_background.bmp)
foreach(button play check cancel close options)
  foreach(state normal hover pressed disabled)
    list(APPEND ORVEX_PICTURES ${ORVEX_PICTURES_DIR}/btn_${button}_${state}.bmp)
  endforeach()
endforeach()

add_custom_command(
  OUTPUT ${ORVEX_PICTURES}
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/assets/draw.py ${ORVEX_PICTURES_DIR}
  DEPENDS ${CMAKE_SOURCE_DIR}/assets/draw.py
  COMMENT "Drawing the window pictures"
  VERBATIM)
add_custom_target(orvex_pictures ALL DEPENDS ${ORVEX_PICTURES})
