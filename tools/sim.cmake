# The scripted driver: the real game, tick by tick, with scripted input; tarmik-sim on the
# desktop's platform (a window, or none with --headless), tarmik-replay on none at all.
if(NOT TARMIK_TOOLS)
  return()
endif()
add_library(tarmik_driver STATIC ${CMAKE_SOURCE_DIR}/tools/driver.cpp)
target_link_libraries(tarmik_driver PUBLIC tarmik_shell)
add_executable(tarmik-sim ${CMAKE_SOURCE_DIR}/tools/tarmik-sim.cpp)
target_link_libraries(tarmik-sim PRIVATE tarmik_driver PNG::PNG tarmik_platform_desktop)
add_executable(tarmik-replay ${CMAKE_SOURCE_DIR}/tools/tarmik-replay.cpp)
target_link_libraries(tarmik-replay PRIVATE tarmik_driver tarmik_platform_null)
set_target_properties(tarmik-sim tarmik-replay PROPERTIES
                      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
