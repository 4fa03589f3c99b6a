if(TARGET kolmiras AND TARGET pirvel)
  find_package(ZLIB REQUIRED)
  pirvel_add_test(tst_hostile SOURCES tst_hostile.cpp LIBS Qt6::Network ZLIB::ZLIB LABEL program)
  target_compile_definitions(tst_hostile PRIVATE PIRVEL_EXE="$<TARGET_FILE:pirvel>"
                                                 KOLMIRAS_EXE="$<TARGET_FILE:kolmiras>")
  add_dependencies(tst_hostile pirvel kolmiras)
  set_tests_properties(tst_hostile PROPERTIES TIMEOUT 600)
endif()
