# The message catalogs, compiled for the game: tools/mklang.cpp turns po/*.po into a source of
# the build folder holding the table base/lang.cpp looks the game's texts up in.
#   tarmik_lang_table(TARGET)   builds the tool and adds the table to TARGET's sources
# Included by the game's build and by the fuzzers'; the page's build runs the game build's tool.
set(TARMIK_PO_DIR ${CMAKE_CURRENT_LIST_DIR})
get_filename_component(TARMIK_TOP_DIR ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)

function(tarmik_lang_table target)
  add_executable(tarmik-mklang ${TARMIK_TOP_DIR}/tools/mklang.cpp ${TARMIK_TOP_DIR}/base/json.cpp)
  target_include_directories(tarmik-mklang PRIVATE ${TARMIK_TOP_DIR})
  set_target_properties(tarmik-mklang PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
  file(GLOB catalogs CONFIGURE_DEPENDS ${TARMIK_PO_DIR}/*.po)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/generated)
  set(table ${CMAKE_BINARY_DIR}/generated/lang_table.cpp)
  add_custom_command(
    OUTPUT ${table}
    COMMAND tarmik-mklang ${table} ${catalogs}
    DEPENDS tarmik-mklang ${catalogs}
    COMMENT "Compiling the message catalogs po/*.po"
    VERBATIM)
  target_sources(${target} PRIVATE ${table})
endfunction()
