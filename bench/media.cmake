add_executable(bench_open bench_open.cpp)
target_link_libraries(bench_open PRIVATE pirvelcommon)
target_compile_definitions(bench_open PRIVATE FIXTURES_DIR="${PROJECT_SOURCE_DIR}/tests/fixtures")
