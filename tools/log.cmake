# rd780-log: the headless logger. Drives the meter session the window's data path is built
# from, and no GUI module of Qt.
add_library(rd780_log_core STATIC
  ${CMAKE_CURRENT_LIST_DIR}/log/LogOptions.h ${CMAKE_CURRENT_LIST_DIR}/log/LogOptions.cpp
  ${CMAKE_CURRENT_LIST_DIR}/log/LogSession.h ${CMAKE_CURRENT_LIST_DIR}/log/LogSession.cpp)
target_include_directories(rd780_log_core PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(rd780_log_core PUBLIC
  rd780_session rd780_mqtt Qt6::Core)

add_executable(rd780-log ${CMAKE_CURRENT_LIST_DIR}/log/main.cpp)
target_link_libraries(rd780-log PRIVATE rd780_log_core)
