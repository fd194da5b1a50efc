# Disassembles the filter-bank library and fails if any fused multiply-add
# appears: every product must be rounded on its own before it is added.
#   cmake -DOBJDUMP=objdump -DLIBRARY=libdwt97_filterbank.a -P no_fused_multiply_add.cmake
# OBJDUMP must read the target's objects (x86_64-w64-mingw32-objdump,
# aarch64-linux-gnu-objdump, ... for a cross build).
execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn ${LIBRARY}
                OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} failed on ${LIBRARY}")
endif()
# The listing must hold the filter arithmetic at all, or the check proves nothing.
if(NOT listing MATCHES "mulps|mulss|fmul")
  message(FATAL_ERROR "no multiplication found in ${LIBRARY}: wrong file or disassembler?")
endif()
# x86: vfmadd*, vfmsub*, vfnmadd*, vfnmsub* (FMA3 and FMA4, vfmaddsub* too).
# arm64: fmla, fmls (vector), fmadd, fmsub, fnmadd, fnmsub (scalar), and the
# SVE forms fnmla, fnmls, fmad, fmsb, fnmad, fnmsb.
string(REGEX MATCHALL
       "[^\n]*[ \t](v?fn?m(add|sub)[a-z0-9]*|fn?ml[as]|fn?m(ad|sb))[ \t.][^\n]*"
       fused "${listing}")
if(fused)
  list(LENGTH fused count)
  list(GET fused 0 first)
  message(FATAL_ERROR "${count} fused multiply-add instructions in ${LIBRARY}, e.g.\n${first}")
endif()
message(STATUS "no fused multiply-add in ${LIBRARY}")
