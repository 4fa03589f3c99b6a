pirvel_add_test(tst_quiz SOURCES tst_quiz.cpp LIBS pirvelform Qt6::GuiPrivate)
target_compile_definitions(tst_quiz PRIVATE PIRVEL_EXE="$<TARGET_FILE:pirvel>")
pirvel_add_test(tst_quizlook SOURCES tst_quizlook.cpp LIBS pirvelform)

# Runs the real program on a private Xvfb, once under each window manager.
add_executable(tst_quizxvfb tst_quizxvfb.cpp)
target_link_libraries(tst_quizxvfb PRIVATE pirveltestsupport pirvelform Qt6::Widgets Qt6::Test)
target_compile_definitions(tst_quizxvfb PRIVATE PIRVEL_EXE="$<TARGET_FILE:pirvel>"
                                                FIXTURES_DIR="${CMAKE_CURRENT_SOURCE_DIR}/fixtures")
add_dependencies(tst_quizxvfb pirvel)
foreach(wm mutter metacity xfwm4 openbox icewm)
  add_test(NAME tst_quizxvfb_${wm} COMMAND xdesktop ${wm} $<TARGET_FILE:tst_quizxvfb>)
  set_tests_properties(tst_quizxvfb_${wm} PROPERTIES
                       ENVIRONMENT "PIRVEL_WINDOW_MANAGER=${wm};QT_QPA_PLATFORM=xcb"
                       TIMEOUT 120 RESOURCE_LOCK xvfb LABELS "xvfb;${wm}")
endforeach()

# The keys alone play a whole quiz (with the hide flag 1 and 0), and a screen reader's view of
# both programs over AT-SPI, on a session bus of the test's own.
set(atspi_run dbus-run-session -- /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/keyboard_atspi.py)
set(atspi_programs $<TARGET_FILE:pirvel> $<TARGET_FILE:kolmiras>
                   ${CMAKE_CURRENT_SOURCE_DIR}/fixtures)
add_test(NAME quiz_keyboard_hide1 COMMAND xdesktop openbox ${atspi_run} play 1 ${atspi_programs})
add_test(NAME quiz_keyboard_hide0 COMMAND xdesktop openbox ${atspi_run} play 0 ${atspi_programs})
add_test(NAME atspi_tree COMMAND xdesktop openbox ${atspi_run} tree 0 ${atspi_programs})
set_tests_properties(quiz_keyboard_hide1 quiz_keyboard_hide0 atspi_tree PROPERTIES
                     TIMEOUT 120 RESOURCE_LOCK xvfb LABELS "xvfb;openbox")
