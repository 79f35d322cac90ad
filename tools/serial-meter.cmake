# rd780-serial-meter: a meter on a pseudo-terminal, for running the serial link without
# hardware.
add_executable(rd780-serial-meter ${CMAKE_CURRENT_SOURCE_DIR}/serial-meter/main.cpp)
target_link_libraries(rd780-serial-meter PRIVATE rd780_meter_core)
