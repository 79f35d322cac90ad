add_executable(bench_trend ${CMAKE_CURRENT_SOURCE_DIR}/bench_trend.cpp)
target_link_libraries(bench_trend PRIVATE rd780_view benchmark::benchmark)
