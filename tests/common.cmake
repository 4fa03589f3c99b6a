pirvel_add_test(tst_pairingfile SOURCES tst_pairingfile.cpp)
pirvel_add_test(tst_program SOURCES tst_program.cpp)

# Short fuzzing runs of the pairing-file reader and of the reading of photos at an eighth, where
# clang and its fuzzer runtime are there. The second waits for the first, which builds both.
find_program(CLANGXX clang++-14)
if(CLANGXX)
  add_test(NAME fuzz_pairingfile
           COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/run.sh ${CMAKE_CURRENT_BINARY_DIR}/fuzz 60)
  add_test(NAME fuzz_jpegeighth
           COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/run.sh ${CMAKE_CURRENT_BINARY_DIR}/fuzz 60
                   fuzz_jpegeighth)
  set_tests_properties(fuzz_pairingfile fuzz_jpegeighth PROPERTIES TIMEOUT 400 LABELS fuzz)
  set_tests_properties(fuzz_jpegeighth PROPERTIES DEPENDS fuzz_pairingfile)
endif()

# libjpeg itself is the reference for the reading of JPEGs at an eighth of their size.
find_package(JPEG REQUIRED)
pirvel_add_test(tst_jpegeighth SOURCES tst_jpegeighth.cpp LIBS JPEG::JPEG)
