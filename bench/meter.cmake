add_executable(bench_meter ${CMAKE_CURRENT_SOURCE_DIR}/bench_meter.cpp)
target_link_libraries(bench_meter PRIVATE rd780_meter_core benchmark::benchmark)
