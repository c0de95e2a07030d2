# The ranking server's package, tarmik-server, made from the same build as the game's: the
# server, the replay tool it runs, the shipped stage set, a default configuration, a systemd
# unit, the manual page. Included by install.cmake when the server is built.
set(server_docdir ${CMAKE_INSTALL_DATADIR}/doc/tarmik-server)
install(TARGETS tarmik-server RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR} COMPONENT server)
if(TARGET tarmik-replay)
  install(TARGETS tarmik-replay RUNTIME DESTINATION ${TARMIK_SERVER_LIBEXECDIR} COMPONENT server)
else()
  message(WARNING "tarmik-replay is not built (TARMIK_TOOLS=OFF): an installed server finds no "
                  "replay tool")
endif()
install(FILES ${CMAKE_SOURCE_DIR}/data/stagefile.txt DESTINATION ${TARMIK_SERVER_DATADIR}
        COMPONENT server)
install(FILES ${pkg}/tarmik-server.conf
        DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/tarmik-server COMPONENT server)
configure_file(${pkg}/tarmik-server.service.in ${out}/tarmik-server.service @ONLY)
install(FILES ${out}/tarmik-server.service DESTINATION lib/systemd/system COMPONENT server)

configure_file(${pkg}/tarmik-server.8.in ${out}/tarmik-server.8 @ONLY)
add_custom_command(OUTPUT ${out}/tarmik-server.8.gz
                   COMMAND gzip -9n -c ${out}/tarmik-server.8 > ${out}/tarmik-server.8.gz
                   DEPENDS ${out}/tarmik-server.8)
add_custom_target(tarmik-server-docs ALL DEPENDS ${out}/tarmik-server.8.gz)
install(FILES ${out}/tarmik-server.8.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man8 COMPONENT server)
install(FILES ${out}/changelog.gz ${pkg}/copyright DESTINATION ${server_docdir} COMPONENT server)
install(FILES ${pkg}/lintian-overrides-server DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME tarmik-server COMPONENT server)

# Enabled and started where systemd runs, its configuration kept across upgrades.
set(server_control ${out}/server-control)
file(MAKE_DIRECTORY ${server_control})
configure_file(${pkg}/server-control/conffiles.in ${server_control}/conffiles @ONLY)
foreach(script postinst prerm postrm)
  file(COPY ${pkg}/server-control/${script} DESTINATION ${server_control}
       FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                        WORLD_READ WORLD_EXECUTE)
endforeach()
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
    "${server_control}/conffiles;${server_control}/postinst;${server_control}/prerm;${server_control}/postrm")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_DEBIAN_SERVER_PACKAGE_NAME tarmik-server)
set(CPACK_DEBIAN_SERVER_PACKAGE_SECTION games)
set(CPACK_DEBIAN_SERVER_DESCRIPTION "shared ranking server for TARMIK that replays every game
tarmik-server keeps a ranking of TARMIK games that trusts no client: each
game is sent as its demo, replayed without a display under limits of time
and memory, and ranked by the score the replay gives. The demos are kept
for anyone to download and replay; a leaderboard page lists the best.

It keeps its games in SQLite, or in PostgreSQL shared by any number of
servers, and runs as a hardened systemd service.")
