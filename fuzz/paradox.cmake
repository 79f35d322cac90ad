# Table engine fuzz target (clang, -DRD780_FUZZ=ON). The engine itself is instrumented too,
# so coverage guides the mutations through the header and chain checks.
add_executable(fuzz_paradox ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_paradox.cpp)
target_compile_options(fuzz_paradox PRIVATE -fsanitize=fuzzer,address,undefined)
target_link_options(fuzz_paradox PRIVATE -fsanitize=fuzzer,address,undefined)
target_link_libraries(fuzz_paradox PRIVATE rd780_paradox)
target_compile_options(rd780_paradox PRIVATE -fsanitize=fuzzer-no-link,address,undefined)
