mf_add_fuzzer(grid SOURCE ${CMAKE_SOURCE_DIR}/fuzz/grid_fuzz.cpp LIBS mf_datafile)
