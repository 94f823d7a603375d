mf_add_fuzzer(wm_read SOURCE ${CMAKE_SOURCE_DIR}/fuzz/wm_read_fuzz.cpp LIBS mf_serial mf_sim_serial)
