# The game's music and sound effects, synthesised by a tool of ours.
add_executable(tarmik-mksound ${CMAKE_SOURCE_DIR}/tools/mksound.cpp)
target_link_libraries(tarmik-mksound PRIVATE tarmik_base)

set(SOUND_FILES ${GAME_DIR}/bgm.mid ${GAME_DIR}/shot.wav ${GAME_DIR}/kara.wav ${GAME_DIR}/ata.wav)
add_custom_command(
  OUTPUT ${SOUND_FILES}
  COMMAND tarmik-mksound ${GAME_DIR}
  DEPENDS tarmik-mksound
  COMMENT "Making the sound files bgm.mid, shot.wav, kara.wav, ata.wav"
  VERBATIM)
add_custom_target(tarmik-sounds ALL DEPENDS ${SOUND_FILES})

# The sound tests read these files: building the tests builds them first. The test target
# is made after this fragment runs, hence the deferred call.
function(tarmik_sound_test_needs_files)
  if(TARGET test_sound)
    add_dependencies(test_sound tarmik-sounds)
  endif()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL tarmik_sound_test_needs_files)
