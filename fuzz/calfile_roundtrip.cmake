mf_add_fuzzer(calfile_roundtrip SOURCE ${CMAKE_SOURCE_DIR}/fuzz/calfile_roundtrip_fuzz.cpp LIBS mf_calfile)
# The file generator and the record comparison are shared with the calibration tests.
foreach(target calfile_roundtrip_corpus calfile_roundtrip_fuzzer)
  if(TARGET ${target})
    target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/tests/calfile/cal_generate.cpp)
  endif()
endforeach()
