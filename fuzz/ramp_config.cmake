mf_add_fuzzer(ramp_config SOURCE ${CMAKE_SOURCE_DIR}/fuzz/ramp_config_fuzz.cpp LIBS mf_ramp)
