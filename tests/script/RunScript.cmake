# Runs one corpus script through vbsrun and compares what it printed with the
# expected files next to it: NAME.out (stdout) and, for scripts that end in an
# error, NAME.err (stderr; the run must then exit non-zero).
execute_process(
  COMMAND ${VBSRUN} ${SCRIPT}
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err
  RESULT_VARIABLE rc
  TIMEOUT 60)
get_filename_component(dir ${SCRIPT} DIRECTORY)
get_filename_component(name ${SCRIPT} NAME_WE)
file(READ ${dir}/${name}.out expected_out)
if(NOT out STREQUAL expected_out)
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${name}.actual "${out}")
  message(FATAL_ERROR "stdout differs from ${name}.out\n--- got:\n${out}\n--- expected:\n${expected_out}\n--- stderr:\n${err}")
endif()
if(EXISTS ${dir}/${name}.err)
  file(READ ${dir}/${name}.err expected_err)
  if(rc EQUAL 0)
    message(FATAL_ERROR "${name} was expected to fail but exited 0")
  endif()
  if(NOT err STREQUAL expected_err)
    message(FATAL_ERROR "stderr differs from ${name}.err\n--- got:\n${err}\n--- expected:\n${expected_err}")
  endif()
elseif(NOT rc EQUAL 0)
  message(FATAL_ERROR "${name} exited ${rc}\n${err}")
endif()
