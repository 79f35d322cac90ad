# rd780-log: the headless logger. Links the window's link, assembly, decoding and recording
# classes but no GUI module of Qt.
add_library(rd780_log_core STATIC
  ${CMAKE_CURRENT_LIST_DIR}/log/LogOptions.h ${CMAKE_CURRENT_LIST_DIR}/log/LogOptions.cpp
  ${CMAKE_CURRENT_LIST_DIR}/log/LogSession.h ${CMAKE_CURRENT_LIST_DIR}/log/LogSession.cpp)
target_include_directories(rd780_log_core PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(rd780_log_core PUBLIC
  rd780_link rd780_record_core rd780_hid rd780_serial rd780_capture rd780_meter_core Qt6::Core)

add_executable(rd780-log ${CMAKE_CURRENT_LIST_DIR}/log/main.cpp)
target_link_libraries(rd780-log PRIVATE rd780_log_core rd780_mqtt)
