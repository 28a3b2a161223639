# Runs vemo-decode --planes/--changes/--y4m on one conformance movie and
# compares the dumps with the expected files.
file(MAKE_DIRECTORY ${OUT})
set(base ${OUT}/${MOVIE})
execute_process(COMMAND ${TOOL} ${DIR}/${MOVIE}.vem --planes ${base}.planes --changes ${base}.changes
                        --y4m ${base}.y4m
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "vemo-decode failed on ${MOVIE} (${rc})")
endif()
foreach(kind planes changes)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${base}.${kind} ${DIR}/${MOVIE}.${kind}
                  RESULT_VARIABLE differ)
  if(differ)
    message(FATAL_ERROR "${MOVIE}.${kind} differs from the expected dump")
  endif()
endforeach()
file(SIZE ${base}.y4m y4m_size)
if(y4m_size LESS 40)
  message(FATAL_ERROR "${MOVIE}.y4m is too short")
endif()
