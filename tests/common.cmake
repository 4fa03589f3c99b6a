pirvel_add_test(tst_pairingfile SOURCES tst_pairingfile.cpp)
pirvel_add_test(tst_program SOURCES tst_program.cpp)

# A short fuzzing run of the pairing-file reader, where clang and its fuzzer runtime are there.
find_program(CLANGXX clang++-14)
if(CLANGXX)
  add_test(NAME fuzz_pairingfile
           COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/run.sh ${CMAKE_CURRENT_BINARY_DIR}/fuzz 60)
  set_tests_properties(fuzz_pairingfile PROPERTIES TIMEOUT 400 LABELS fuzz)
endif()

# libjpeg itself is the reference for the reading of JPEGs at an eighth of their size.
find_package(JPEG REQUIRED)
pirvel_add_test(tst_jpegeighth SOURCES tst_jpegeighth.cpp LIBS JPEG::JPEG)
