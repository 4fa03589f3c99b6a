# A tool for looking at the drawn pictures by hand; neither installed nor run as a test.
add_executable(artwork_export ${PROJECT_SOURCE_DIR}/tools/artwork-export.cpp)
target_link_libraries(artwork_export PRIVATE pirvelcommon)
