mf_add_fuzzer(zoom_cal SOURCE ${CMAKE_SOURCE_DIR}/fuzz/zoom_cal_fuzz.cpp LIBS mf_can_nodes)
