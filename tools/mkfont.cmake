# The game's bitmap font, made from the Shinonome 16-dot fonts of xfonts-shinonome.
add_executable(tarmik-mkfont ${CMAKE_SOURCE_DIR}/tools/mkfont.cpp)
target_link_libraries(tarmik-mkfont PRIVATE Freetype::Freetype)

set(SHINONOME_DIR /usr/share/fonts/X11/misc)
add_custom_command(
  OUTPUT ${GAME_DIR}/shnm16.f1b
  COMMAND tarmik-mkfont ${SHINONOME_DIR}/shnmk16.pcf.gz ${SHINONOME_DIR}/shnm8x16r.pcf.gz
          ${GAME_DIR}/shnm16.f1b
  DEPENDS tarmik-mkfont ${SHINONOME_DIR}/shnmk16.pcf.gz ${SHINONOME_DIR}/shnm8x16r.pcf.gz
  COMMENT "Making the font file shnm16.f1b"
  VERBATIM)
add_custom_target(tarmik-font ALL DEPENDS ${GAME_DIR}/shnm16.f1b)
