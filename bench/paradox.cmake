add_executable(bench_paradox ${CMAKE_CURRENT_SOURCE_DIR}/bench_paradox.cpp)
target_link_libraries(bench_paradox PRIVATE rd780_paradox benchmark::benchmark)
