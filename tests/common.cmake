pirvel_add_test(tst_pairingfile SOURCES tst_pairingfile.cpp)
pirvel_add_test(tst_program SOURCES tst_program.cpp)
