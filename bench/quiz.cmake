add_executable(bench_startup bench_startup.cpp)
target_link_libraries(bench_startup PRIVATE pirveltestsupport Qt6::Widgets)
target_compile_definitions(bench_startup PRIVATE
  FIXTURES_DIR="${PROJECT_SOURCE_DIR}/tests/fixtures"
  DEMO_DIR="${PROJECT_SOURCE_DIR}/demo"
  PIRVEL_EXE="$<TARGET_FILE:pirvel>"
  KOLMIRAS_EXE="$<TARGET_FILE:kolmiras>")
add_dependencies(bench_startup pirvel kolmiras)
