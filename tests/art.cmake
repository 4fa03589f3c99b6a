pirvel_add_test(tst_artwork SOURCES tst_artwork.cpp)
