pirvel_add_test(tst_quiz SOURCES tst_quiz.cpp LIBS pirvelform Qt6::GuiPrivate)
target_compile_definitions(tst_quiz PRIVATE PIRVEL_EXE="$<TARGET_FILE:pirvel>")
pirvel_add_test(tst_quizlook SOURCES tst_quizlook.cpp LIBS pirvelform)

# Runs the real program on a private Xvfb, once under each window manager, and in a Wayland
# session with its Xwayland and without any X server. The test itself needs no display.
add_executable(tst_quizxvfb tst_quizxvfb.cpp)
target_link_libraries(tst_quizxvfb PRIVATE pirveltestsupport pirvelform Qt6::Widgets Qt6::Test)
target_compile_definitions(tst_quizxvfb PRIVATE PIRVEL_EXE="$<TARGET_FILE:pirvel>"
                                                FIXTURES_DIR="${CMAKE_CURRENT_SOURCE_DIR}/fixtures")
add_dependencies(tst_quizxvfb pirvel)
foreach(wm mutter metacity xfwm4 openbox icewm wayland wayland-no-x11)
  add_test(NAME tst_quizxvfb_${wm} COMMAND xdesktop ${wm} $<TARGET_FILE:tst_quizxvfb>)
  set_tests_properties(tst_quizxvfb_${wm} PROPERTIES
                       ENVIRONMENT "PIRVEL_WINDOW_MANAGER=${wm};QT_QPA_PLATFORM=offscreen"
                       TIMEOUT 120 RESOURCE_LOCK xvfb LABELS "xvfb;${wm}")
endforeach()

# A whole quiz from the keys (hide flag 1 and 0), and both programs over AT-SPI.
foreach(run "quiz_keyboard_hide1;play;1" "quiz_keyboard_hide0;play;0" "atspi_tree;tree;0")
  list(GET run 0 name)
  list(SUBLIST run 1 2 args)
  add_test(NAME ${name} COMMAND xdesktop openbox dbus-run-session -- /usr/bin/python3
           ${CMAKE_CURRENT_SOURCE_DIR}/keyboard_atspi.py ${args} $<TARGET_FILE:pirvel>
           $<TARGET_FILE:kolmiras> ${CMAKE_CURRENT_SOURCE_DIR}/fixtures)
  set_tests_properties(${name} PROPERTIES TIMEOUT 120 RESOURCE_LOCK xvfb LABELS "xvfb;openbox")
endforeach()
