# rd780-table: prints a Paradox table with the program's own engine.
add_executable(rd780-table ${CMAKE_CURRENT_LIST_DIR}/table/main.cpp)
target_link_libraries(rd780-table PRIVATE rd780_paradox)
