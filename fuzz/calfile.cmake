mf_add_fuzzer(calfile SOURCE ${CMAKE_SOURCE_DIR}/fuzz/calfile_fuzz.cpp LIBS mf_calfile)
