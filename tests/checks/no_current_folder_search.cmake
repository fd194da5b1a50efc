# Fails if a program's library search path (RPATH or RUNPATH) holds an empty
# entry, which the dynamic loader reads as the current folder: the program
# would look for its libraries in whatever folder it is run from.
#   cmake -DOBJDUMP=objdump -DPROGRAM=dwt97 -P no_current_folder_search.cmake
execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} failed on ${PROGRAM}")
endif()
string(REGEX MATCHALL "(RPATH|RUNPATH)[ \t]+[^\n]*" paths "${listing}")
foreach(entry IN LISTS paths)
  string(REGEX REPLACE "^(RPATH|RUNPATH)[ \t]+" "" path "${entry}")
  if(path STREQUAL "" OR path MATCHES "^:|::|:$")
    message(FATAL_ERROR "${PROGRAM} searches the current folder for libraries: ${entry}")
  endif()
endforeach()
message(STATUS "no empty library search entry in ${PROGRAM}")
