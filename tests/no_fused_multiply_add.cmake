# Disassembles the filter-bank library and fails if any fused multiply-add
# appears: every product must be rounded on its own before it is added.
#   cmake -DOBJDUMP=objdump -DLIBRARY=libdwt97_filterbank.a -P no_fused_multiply_add.cmake
execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn ${LIBRARY}
                OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} failed on ${LIBRARY}")
endif()
# The listing must hold the filter arithmetic at all, or the check proves nothing.
if(NOT listing MATCHES "mulps|mulss|fmul")
  message(FATAL_ERROR "no multiplication found in ${LIBRARY}: wrong file?")
endif()
string(REGEX MATCHALL "[^\n]*[ \t](v?fn?m(add|sub)[a-z0-9]*)[^\n]*" fused "${listing}")
if(fused)
  list(LENGTH fused count)
  list(GET fused 0 first)
  message(FATAL_ERROR "${count} fused multiply-add instructions in ${LIBRARY}, e.g.\n${first}")
endif()
message(STATUS "no fused multiply-add in ${LIBRARY}")
