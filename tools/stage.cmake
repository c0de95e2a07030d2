# The stage authors' tool: checks and traces stage files with the game's own code. It needs
# nothing beyond the game's own libraries, and the package ships it.
add_executable(tarmik-stage ${CMAKE_SOURCE_DIR}/tools/tarmik-stage.cpp)
target_link_libraries(tarmik-stage PRIVATE tarmik_flow tarmik_platform_null)
set_target_properties(tarmik-stage PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
