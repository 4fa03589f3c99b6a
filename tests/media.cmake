pirvel_add_test(tst_mediawindow SOURCES tst_mediawindow.cpp LIBS Qt6::Network)
set_tests_properties(tst_mediawindow PROPERTIES TIMEOUT 600)
