# What publishing on a broker costs the logger (needs mosquitto at run time).
add_executable(bench_publish ${CMAKE_CURRENT_SOURCE_DIR}/bench_publish.cpp)
target_link_libraries(bench_publish PRIVATE rd780_log_core rd780_mqtt)
