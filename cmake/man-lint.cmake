# Renders each manual page with groff's warnings on (-ww); any warning fails.
foreach(page IN LISTS PAGES)
  execute_process(COMMAND ${GROFF} -man -ww -z -t ${page} RESULT_VARIABLE status ERROR_VARIABLE warnings)
  if(NOT status EQUAL 0 OR NOT warnings STREQUAL "")
    message(FATAL_ERROR "${page}: groff ${status}\n${warnings}")
  endif()
  message(STATUS "${page}: no warnings")
endforeach()
