# Installs the library from the test suite's own build tree into a fresh prefix, then
# builds and runs the consumer program against the installed package and through
# add_subdirectory() (which builds the library once more, as a parent project would).
#   cmake -DBUILD=<the suite's build tree> -DSOURCE=<korvane source> -DWORK=<scratch>
#         [-DSANITIZE=ON] -P check.cmake
foreach(var BUILD SOURCE WORK)
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

set(expected "E001 MOV\nAFFD BRA\nSTART = 0\nMOV.L @(L0600400C,PC),R1\nkorvane 0.93\n")
function(consume dir)
  step(${CMAKE_COMMAND} --build "${dir}" -j2 --target consumer)
  execute_process(COMMAND "${dir}/consumer" OUTPUT_VARIABLE out RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR NOT out STREQUAL expected)
    message(FATAL_ERROR "the consumer in ${dir} printed:\n${out}")
  endif()
endfunction()

# An instrumented library needs its runtime in the program that links it.
set(flags)
if(SANITIZE)
  set(flags "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined")
endif()

# Installed: find_package(korvane).
step(${CMAKE_COMMAND} --install "${BUILD}" --prefix "${WORK}/prefix")
step(${CMAKE_COMMAND} -S "${SOURCE}/tests/package/consumer" -B "${WORK}/installed"
     "-DCMAKE_PREFIX_PATH=${WORK}/prefix" ${flags})
consume("${WORK}/installed")

# As a subdirectory of another project (the library built without optimisation, as the
# parent leaves the build type unset).
step(${CMAKE_COMMAND} -S "${SOURCE}/tests/package/consumer" -B "${WORK}/subdirectory"
     "-DKORVANE_SOURCE=${SOURCE}")
consume("${WORK}/subdirectory")
message(STATUS "the consumer built and ran against the installed package and as a subdirectory")
