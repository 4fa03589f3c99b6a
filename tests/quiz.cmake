pirvel_add_test(tst_quiz SOURCES tst_quiz.cpp quizfixture.h LIBS pirvelform Qt6::GuiPrivate)
target_compile_definitions(tst_quiz PRIVATE PIRVEL_EXE="$<TARGET_FILE:pirvel>")
pirvel_add_test(tst_quizlook SOURCES tst_quizlook.cpp quizfixture.h LIBS pirvelform)

# Runs the real program on a private Xvfb; it sets its own platform.
pirvel_add_test(tst_quizxvfb SOURCES tst_quizxvfb.cpp xvfbserver.h)
target_compile_definitions(tst_quizxvfb PRIVATE PIRVEL_EXE="$<TARGET_FILE:pirvel>")
set_tests_properties(tst_quizxvfb PROPERTIES ENVIRONMENT "" TIMEOUT 120 RESOURCE_LOCK xvfb)
add_dependencies(tst_quizxvfb pirvel)
