mf_add_fuzzer(board_read SOURCE ${CMAKE_SOURCE_DIR}/fuzz/board_read_fuzz.cpp LIBS mf_board mf_sim_serial)
