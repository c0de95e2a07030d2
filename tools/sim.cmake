# The scripted game driver: the real game, tick by tick, with scripted input.
if(NOT TARMIK_TOOLS)
  return()
endif()
add_executable(tarmik-sim ${CMAKE_SOURCE_DIR}/tools/tarmik-sim.cpp)
target_link_libraries(tarmik-sim PRIVATE tarmik_core PNG::PNG ${X11_LIBRARIES})
set_target_properties(tarmik-sim PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
