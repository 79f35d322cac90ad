# Soak run: the window offscreen with the simulated cable for minutes (not a microbenchmark).
add_executable(rd780_soak ${CMAKE_CURRENT_SOURCE_DIR}/bench_soak.cpp)
target_link_libraries(rd780_soak PRIVATE rd780_app rd780_hid Qt6::Widgets)
