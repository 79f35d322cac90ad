add_executable(rd780-frames ${CMAKE_CURRENT_SOURCE_DIR}/frames/main.cpp)
target_link_libraries(rd780-frames PRIVATE rd780_meter_core)
