# Installation (cmake --install) and the Debian package (cpack, scripts/package). The game
# stays as it is and reads its files from its working folder; around it: the program in
# libexec, its files in share/games/tarmik, and the launcher `tarmik` in games, which runs
# it in the player's own folder. Desktop entry, AppStream metainfo, icons and man page too.
# Two packages from one build: the game (the component "game", every rule below that names
# none) and, when it is built, the ranking server (server.cmake, the component "server").
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME game)
set(TARMIK_APP_ID io.github.tarmik.tarmik)
# No mail address is published for the project yet: a reserved domain that reaches nobody.
set(TARMIK_MAINTAINER "TARMIK developers <developers@tarmik.invalid>")
set(TARMIK_INSTALL_GAMESDIR games CACHE STRING "Where the launcher goes (relative to the prefix)")
set(TARMIK_INSTALL_LIBEXECDIR ${CMAKE_INSTALL_LIBEXECDIR}/tarmik)
set(TARMIK_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/games/tarmik)
set(pkg ${CMAKE_SOURCE_DIR}/packaging)
set(out ${CMAKE_BINARY_DIR}/packaging)

install(TARGETS tarmik RUNTIME DESTINATION ${TARMIK_INSTALL_LIBEXECDIR})
# The stage authors' tool reads the files it is given: it goes where players run it.
install(TARGETS tarmik-stage RUNTIME DESTINATION ${TARMIK_INSTALL_GAMESDIR})
# A stripped install (the package's) also drops the compilers' notes, as Debian's own do.
install(CODE "if(CMAKE_INSTALL_DO_STRIP)
  foreach(f ${TARMIK_INSTALL_LIBEXECDIR}/tarmik ${TARMIK_INSTALL_GAMESDIR}/tarmik-stage)
    execute_process(COMMAND ${CMAKE_OBJCOPY} --remove-section=.comment
                    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/\${f}\")
  endforeach()
endif()")
install(FILES ${GAME_DATA} ${GAME_DIR}/shnm16.f1b ${GAME_DIR}/bgm.mid ${GAME_DIR}/shot.wav
              ${GAME_DIR}/kara.wav ${GAME_DIR}/ata.wav
        DESTINATION ${TARMIK_INSTALL_DATADIR})

# The launcher finds the game and its files relative to itself, so the tree can be moved.
foreach(dir GAMESDIR LIBEXECDIR DATADIR)
  if(IS_ABSOLUTE ${TARMIK_INSTALL_${dir}})
    set(full_${dir} ${TARMIK_INSTALL_${dir}})
  else()
    set(full_${dir} ${CMAKE_INSTALL_PREFIX}/${TARMIK_INSTALL_${dir}})
  endif()
endforeach()
file(RELATIVE_PATH LAUNCHER_TO_GAME ${full_GAMESDIR} ${full_LIBEXECDIR}/tarmik)
file(RELATIVE_PATH LAUNCHER_TO_DATA ${full_GAMESDIR} ${full_DATADIR})
configure_file(${pkg}/tarmik.in ${out}/tarmik @ONLY)
install(PROGRAMS ${out}/tarmik DESTINATION ${TARMIK_INSTALL_GAMESDIR})

configure_file(${pkg}/tarmik.desktop.in ${out}/${TARMIK_APP_ID}.desktop @ONLY)
install(FILES ${out}/${TARMIK_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
configure_file(${pkg}/tarmik.metainfo.xml.in ${out}/${TARMIK_APP_ID}.metainfo.xml @ONLY)
install(FILES ${out}/${TARMIK_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The PNGs are the SVG rendered at each size:
#   convert -background none tarmik.svg -resize NxN -depth 8 -strip tarmik-N.png
set(icons ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
install(FILES ${pkg}/icons/tarmik.svg DESTINATION ${icons}/scalable/apps
        RENAME ${TARMIK_APP_ID}.svg)
foreach(n 16 24 32 48 64 128 256)
  install(FILES ${pkg}/icons/tarmik-${n}.png DESTINATION ${icons}/${n}x${n}/apps
          RENAME ${TARMIK_APP_ID}.png)
endforeach()

# Man pages (the game's in Japanese too, for `man -L ja`) and changelog compressed as Debian wants them (and man reads them).
configure_file(${pkg}/tarmik.6.in ${out}/tarmik.6 @ONLY)
configure_file(${pkg}/tarmik-stage.6.in ${out}/tarmik-stage.6 @ONLY)
configure_file(${pkg}/tarmik.ja.6.in ${out}/ja/tarmik.6 @ONLY)
configure_file(${pkg}/changelog.in ${out}/changelog @ONLY)
foreach(f tarmik.6 tarmik-stage.6 ja/tarmik.6 changelog)
  add_custom_command(OUTPUT ${out}/${f}.gz COMMAND gzip -9n -c ${out}/${f} > ${out}/${f}.gz
                     DEPENDS ${out}/${f})
endforeach()
add_custom_target(tarmik-docs ALL DEPENDS ${out}/tarmik.6.gz ${out}/tarmik-stage.6.gz
                                          ${out}/ja/tarmik.6.gz ${out}/changelog.gz)
install(FILES ${out}/tarmik.6.gz ${out}/tarmik-stage.6.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)
install(FILES ${out}/ja/tarmik.6.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/ja/man6)
install(FILES ${out}/changelog.gz ${pkg}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The players' documents, with the pictures and files they show.
set(docs ${CMAKE_SOURCE_DIR}/docs)
file(GLOB doc_pictures ${docs}/screen-title.png ${docs}/screen-play.png ${docs}/screen-result.png
     ${docs}/pattern-*.svg ${docs}/stage-*.svg)
install(FILES ${docs}/playing.md ${docs}/stages.md ${docs}/behaviour.md ${docs}/example.txt
              ${docs}/example.svg ${docs}/patterns.txt ${doc_pictures}
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${pkg}/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME tarmik)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarmik)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${TARMIK_MAINTAINER})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL game)
set(CPACK_DEBIAN_PACKAGE_SOURCE tarmik)
set(CPACK_DEBIAN_GAME_PACKAGE_NAME tarmik)
# The summary first; CPack indents the rest, its paragraphs parted by " .".
set(CPACK_DEBIAN_GAME_DESCRIPTION "shoot walking figures and targets through a telescopic sight
TARMIK is a small single-player 3D target-shooting game. You look straight
down through a telescopic sight onto a checkerboard ground, slide the view
with the mouse and shoot walking figures and targets, stage after stage,
against a time limit.

Started from the desktop's menu the game plays in its window alone, its
notices and the ranking shown there; from a terminal it starts with its
console menu, as it always did. The window can be scaled or fullscreen. The
results go into a ranking kept in the player's own folder; stages are a
plain text file that players can write themselves, and tarmik-stage checks,
traces and draws them.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_GAME_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries from dpkg-shlibdeps; the title's Japanese Gothic and the soundfont by hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_GAME_PACKAGE_DEPENDS
    "fonts-ipafont-gothic | fonts-japanese-gothic, timgm6mb-soundfont")
set(CPACK_STRIP_FILES ON)
if(TARGET tarmik-server)
  include(${pkg}/server.cmake)
  list(APPEND CPACK_COMPONENTS_ALL server)
endif()
include(CPack)
