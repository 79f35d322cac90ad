add_executable(bench_record ${CMAKE_CURRENT_SOURCE_DIR}/bench_record.cpp)
target_link_libraries(bench_record PRIVATE rd780_record benchmark::benchmark)
