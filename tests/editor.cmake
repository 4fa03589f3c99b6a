# The editor's tests. The write-fault library makes writes under one folder fail as on a full
# disk; tst_editorsave and the real-program test load it with LD_PRELOAD.
if(NOT TARGET kolmirasform)
  return()
endif()

add_library(enospc_preload MODULE enospc_preload.cpp)
target_link_libraries(enospc_preload PRIVATE ${CMAKE_DL_LIBS})

pirvel_add_test(tst_editor SOURCES tst_editor.cpp editorgestures.h LIBS kolmirasform)
target_compile_definitions(tst_editor PRIVATE KOLMIRAS_EXE="$<TARGET_FILE:kolmiras>")
add_dependencies(tst_editor kolmiras)
pirvel_add_test(tst_editorlook SOURCES tst_editorlook.cpp editorgestures.h LIBS kolmirasform)
target_compile_definitions(tst_editorlook PRIVATE KOLMIRAS_EXE="$<TARGET_FILE:kolmiras>")
add_dependencies(tst_editorlook kolmiras)
pirvel_add_test(tst_editorsave SOURCES tst_editorsave.cpp editorgestures.h LIBS kolmirasform)
add_dependencies(tst_editorsave enospc_preload)
set_tests_properties(tst_editorsave PROPERTIES ENVIRONMENT
  "QT_QPA_PLATFORM=offscreen;LD_PRELOAD=$<TARGET_FILE:enospc_preload>")
if(TARGET pirvelform)
  pirvel_add_test(tst_editorroundtrip SOURCES tst_editorroundtrip.cpp editorgestures.h
                  LIBS kolmirasform pirvelform)
endif()

# The real editor under each window manager, and in a Wayland session with and without Xwayland.
foreach(wm mutter metacity xfwm4 openbox icewm wayland wayland-no-x11)
  add_test(NAME editor_xvfb_${wm}
           COMMAND xdesktop ${wm} sh ${CMAKE_CURRENT_SOURCE_DIR}/editor_xvfb.sh
                   $<TARGET_FILE:kolmiras> $<TARGET_FILE:enospc_preload>
                   ${CMAKE_CURRENT_SOURCE_DIR}/fixtures/editor $<TARGET_FILE:xdesktop>)
  set_tests_properties(editor_xvfb_${wm} PROPERTIES TIMEOUT 120 RESOURCE_LOCK xvfb
                       LABELS "xvfb;${wm}")
endforeach()
