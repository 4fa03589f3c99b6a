if(TARGET kolmirasform)
  add_executable(bench_handlers bench_handlers.cpp)
  target_link_libraries(bench_handlers PRIVATE pirvelform kolmirasform)
  target_compile_definitions(bench_handlers PRIVATE
    FIXTURES_DIR="${PROJECT_SOURCE_DIR}/tests/fixtures")
endif()
