mf_add_fuzzer(zernike SOURCE ${CMAKE_SOURCE_DIR}/fuzz/zernike_fuzz.cpp LIBS mf_datafile)
