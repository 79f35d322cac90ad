# From the input report that ends a frame to the reading being set, through the real read
# thread and the hand-over to the GUI thread.
add_executable(bench_hid ${CMAKE_CURRENT_SOURCE_DIR}/bench_hid.cpp)
target_link_libraries(bench_hid PRIVATE rd780_app rd780_hid benchmark::benchmark Qt6::Widgets)
