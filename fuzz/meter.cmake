add_executable(fuzz_frames ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_frames.cpp)
target_compile_options(fuzz_frames PRIVATE -fsanitize=fuzzer,address,undefined)
target_link_options(fuzz_frames PRIVATE -fsanitize=fuzzer,address,undefined)
target_link_libraries(fuzz_frames PRIVATE rd780_meter_core)
