# Builds and installs the assembler into a fresh prefix, then builds and runs the
# consumer program against the installed package and through add_subdirectory().
#   cmake -DSOURCE=<assembler source> -DWORK=<scratch directory> -P check.cmake
foreach(var SOURCE WORK)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()
file(REMOVE_RECURSE "${WORK}")

function(step)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGN}\n${out}")
  endif()
endfunction()

function(consume dir)
  step(${CMAKE_COMMAND} --build "${dir}" -j2)
  execute_process(COMMAND "${dir}/consumer" OUTPUT_VARIABLE out RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR NOT out STREQUAL "E001 MOV\nAFFD BRA\nSTART = 0\n")
    message(FATAL_ERROR "the consumer in ${dir} printed:\n${out}")
  endif()
endfunction()

# Installed: find_package(korvane).
step(${CMAKE_COMMAND} -S "${SOURCE}" -B "${WORK}/build" -DCMAKE_BUILD_TYPE=Release -DKORVANE_TESTS=OFF)
step(${CMAKE_COMMAND} --build "${WORK}/build" -j2)
step(${CMAKE_COMMAND} --install "${WORK}/build" --prefix "${WORK}/prefix")
step(${CMAKE_COMMAND} -S "${SOURCE}/tests/package/consumer" -B "${WORK}/installed"
     "-DCMAKE_PREFIX_PATH=${WORK}/prefix")
consume("${WORK}/installed")

# As a subdirectory of another project.
step(${CMAKE_COMMAND} -S "${SOURCE}/tests/package/consumer" -B "${WORK}/subdirectory"
     "-DKORVANE_SOURCE=${SOURCE}")
consume("${WORK}/subdirectory")
message(STATUS "the consumer built and ran against the installed package and as a subdirectory")
