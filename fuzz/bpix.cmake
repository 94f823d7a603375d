mf_add_fuzzer(bpix SOURCE ${CMAKE_SOURCE_DIR}/fuzz/bpix_fuzz.cpp LIBS mf_calfile)
