# Installs the library from the test suite's own build tree into a fresh prefix, then
# builds and runs the consumer program against that one install, through find_package()
# and through pkg-config, and checks what else the install holds. A parent project's
# add_subdirectory() is configured, not built (that would build the library twice).
#   cmake -DBUILD=<the suite's build tree> -DSOURCE=<korvane source> -DWORK=<scratch>
#         -DCXX=<C++ compiler> [-DSANITIZE=ON] -P check.cmake
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
function(expect_output program)
  execute_process(COMMAND "${program}" OUTPUT_VARIABLE out RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR NOT out STREQUAL expected)
    message(FATAL_ERROR "${program} printed:\n${out}")
  endif()
endfunction()
function(consume dir)
  step(${CMAKE_COMMAND} --build "${dir}" -j2 --target consumer)
  expect_output("${dir}/consumer")
endfunction()

# An instrumented library needs its runtime in the program that links it.
set(flags)
if(SANITIZE)
  set(flags "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined")
endif()

# Installed: find_package(korvane).
set(prefix "${WORK}/prefix")
step(${CMAKE_COMMAND} --install "${BUILD}" --prefix "${prefix}")
step(${CMAKE_COMMAND} -S "${SOURCE}/tests/package/consumer" -B "${WORK}/installed"
     "-DCMAKE_PREFIX_PATH=${prefix}" ${flags})
consume("${WORK}/installed")

# The same install through pkg-config, whose file must be right under a prefix given only
# at install time.
file(GLOB_RECURSE pc_files "${prefix}/*/korvane.pc")
list(LENGTH pc_files pc_count)
if(NOT pc_count EQUAL 1)
  message(FATAL_ERROR "the install holds ${pc_count} korvane.pc files: ${pc_files}")
endif()
find_program(PKG_CONFIG NAMES pkg-config pkgconf)
if(PKG_CONFIG)
  get_filename_component(pc_dir "${pc_files}" DIRECTORY)
  set(ENV{PKG_CONFIG_PATH} "${pc_dir}")
  execute_process(COMMAND "${PKG_CONFIG}" --cflags --libs korvane OUTPUT_VARIABLE pc_flags
                  RESULT_VARIABLE status OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT status EQUAL 0 OR NOT pc_flags MATCHES "-I${prefix}/")
    message(FATAL_ERROR "pkg-config --cflags --libs korvane said: ${pc_flags}")
  endif()
  separate_arguments(pc_list UNIX_COMMAND "${pc_flags}")
  set(sanitize)
  if(SANITIZE)
    set(sanitize -fsanitize=address,undefined)
  endif()
  step("${CXX}" -std=c++20 ${sanitize} "${SOURCE}/tests/package/consumer/main.cpp" ${pc_list}
       -o "${WORK}/pkg-consumer")
  expect_output("${WORK}/pkg-consumer")
else()
  message(STATUS "pkg-config is not installed (package pkgconf): its consumer was not built")
endif()

# What the install holds beside the library and headers.
foreach(file bin/korvane bin/korvane-dis bin/korvane-run share/doc/korvane/LICENSE)
  if(NOT EXISTS "${prefix}/${file}")
    message(FATAL_ERROR "the install has no ${file}")
  endif()
endforeach()

# As a subdirectory of another project: configured only (its build is the library's own).
step(${CMAKE_COMMAND} -S "${SOURCE}/tests/package/consumer" -B "${WORK}/subdirectory"
     "-DKORVANE_SOURCE=${SOURCE}")
message(STATUS "the consumer built and ran against the installed package through find_package "
               "and pkg-config; a parent project configures with the library as a subdirectory")
