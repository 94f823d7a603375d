mf_add_fuzzer(ramp_file SOURCE ${CMAKE_SOURCE_DIR}/fuzz/ramp_file_fuzz.cpp LIBS mf_ramp)
