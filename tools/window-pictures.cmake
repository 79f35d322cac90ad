# Not installed: takes the three reference pictures of the main window and compares them.
add_executable(rd780-window-pictures ${CMAKE_CURRENT_SOURCE_DIR}/window-pictures/main.cpp)
target_link_libraries(rd780-window-pictures PRIVATE rd780_app rd780_hid)
