# Lists the symbols the pass sets' objects define and fails if two objects
# define the same one, weak or strong. Each set is compiled for its own
# instruction set: where two objects define one symbol the linker keeps a
# single copy for the whole program, which could be one built for an
# instruction set the processor lacks.
#   cmake -DNM=nm "-DOBJECTS=a.o|b.o|..." -P distinct_pass_set_symbols.cmake
# NM must read the target's objects (x86_64-w64-mingw32-nm, ... for a cross
# build). The compiler's own shared helpers are allowed: the personality
# routine's reference (DW.ref.__gxx_personality_v0) and, on Windows, the
# pointers to imported data (.refptr.*).
string(REPLACE "|" ";" objects "${OBJECTS}")
list(LENGTH objects objectCount)
if(objectCount LESS 2)
  message(FATAL_ERROR "fewer than two pass-set objects given: ${OBJECTS}")
endif()
set(seen "")
foreach(object IN LISTS objects)
  execute_process(COMMAND ${NM} --defined-only -P ${object}
                  OUTPUT_VARIABLE listing RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${object}")
  endif()
  string(REPLACE "\n" ";" lines "${listing}")
  set(defined 0)
  foreach(line IN LISTS lines)
    # "name type value size": global (upper case), weak (V, v, W, w) or
    # unique (u) definitions; lower-case others are local to the object.
    if(NOT line MATCHES "^([^ ]+) ([A-Zuvw]) ")
      continue()
    endif()
    set(symbol "${CMAKE_MATCH_1}")
    if(symbol MATCHES "^(DW\\.ref\\.__gxx_personality_v0|\\.refptr\\..*)$")
      continue()
    endif()
    math(EXPR defined "${defined} + 1")
    string(MAKE_C_IDENTIFIER "${symbol}" key)
    if(DEFINED owner_${key})
      message(FATAL_ERROR "${symbol} is defined both in ${owner_${key}} and in ${object}")
    endif()
    set(owner_${key} "${object}")
  endforeach()
  # Every object holds kernels, or the listing proves nothing.
  if(defined EQUAL 0)
    message(FATAL_ERROR "no symbol defined in ${object}: wrong file or nm?")
  endif()
endforeach()
message(STATUS "${objectCount} pass-set objects, no symbol defined twice")
