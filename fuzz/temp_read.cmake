mf_add_fuzzer(temp_read SOURCE ${CMAKE_SOURCE_DIR}/fuzz/temp_read_fuzz.cpp LIBS mf_serial mf_sim_serial)
