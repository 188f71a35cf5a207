# tests/package/InstallTest.cmake - the suite installed and used from outside the tree.
#
# cmake -DBUILD_DIR=.. -DWORK_DIR=.. -DPROGRAM_DIR=.. [-DSANITIZE=ON] -P InstallTest.cmake
# 1. cmake --install into a fresh prefix; 2. configure and build the program in PROGRAM_DIR
# with find_package(JexLogger), run it and check that its exception report names its own unit,
# procedure and line; 3. the same program built with the pkg-config file runs; 4. cpack makes
# the Debian package, dpkg -x unpacks it and its tools run.
foreach(var BUILD_DIR WORK_DIR PROGRAM_DIR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    string(REPLACE ";" " " line "${ARGN}")
    message(FATAL_ERROR "${line} failed (${rc}):\n${out}\n${err}")
  endif()
  set(output "${out}" PARENT_SCOPE)
endfunction()

function(expect text pattern)
  if(NOT text MATCHES "${pattern}")
    message(FATAL_ERROR "expected \"${pattern}\" in:\n${text}")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

# The program's own source line that raises.
file(STRINGS ${PROGRAM_DIR}/orderentry.cpp lines)
set(number 0)
foreach(line IN LISTS lines)
  math(EXPR number "${number} + 1")
  if(line MATCHES "the reported line")
    set(raising_line ${number})
  endif()
endforeach()

set(flags)
if(SANITIZE)
  # The installed libraries carry the sanitizers; the program must load their run-time first.
  set(flags -DCMAKE_CXX_FLAGS=-fsanitize=address,undefined)
endif()
find_program(CCACHE ccache)
if(CCACHE)
  list(APPEND flags -DCMAKE_CXX_COMPILER_LAUNCHER=${CCACHE})
endif()
run(${CMAKE_COMMAND} -S ${PROGRAM_DIR} -B ${WORK_DIR}/program -G Ninja
  -DCMAKE_PREFIX_PATH=${prefix} ${flags})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/program)
run(${WORK_DIR}/program/orderentry ${WORK_DIR}/orderentry.log)
expect("${output}" "Classname: EConvertError")
expect("${output}" "Unit: orderentry\r?\n")
expect("${output}" "Procedure: [^\r\n]*CheckOrderQuantity")
expect("${output}" "Line No: ${raising_line}[^0-9]")

# pkg-config serves a plain compiler command line.
find_program(PKG_CONFIG pkg-config REQUIRED)
set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
run(${PKG_CONFIG} --cflags --libs jexlogger)
separate_arguments(pc_flags UNIX_COMMAND "${output}")
set(compile_flags -O0)
if(SANITIZE)
  list(APPEND compile_flags -fsanitize=address,undefined)
endif()
run(c++ ${compile_flags} ${PROGRAM_DIR}/orderentry.cpp -o ${WORK_DIR}/orderentry-pc ${pc_flags})
run(${WORK_DIR}/orderentry-pc ${WORK_DIR}/orderentry-pc.log)
expect("${output}" "Classname: EConvertError")

# The Debian package.
run(cpack -G DEB --config ${BUILD_DIR}/CPackConfig.cmake -B ${WORK_DIR}/cpack)
file(GLOB debs ${WORK_DIR}/cpack/*.deb)
list(LENGTH debs count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one .deb, found: ${debs}")
endif()
run(dpkg-deb -f ${debs} Package Version Depends)
expect("${output}" "Package: jexlogger")
expect("${output}" "Version: 1.5.0.0")
run(dpkg -x ${debs} ${WORK_DIR}/root)
set(root ${WORK_DIR}/root/usr)
foreach(file include/jexlogger/exceptions/LogError.h lib/libJexLogC6.so lib/libhostrt.so
    lib/cmake/JexLogger/JexLoggerConfig.cmake lib/pkgconfig/jexlogger.pc)
  if(NOT EXISTS ${root}/${file})
    message(FATAL_ERROR "the package lacks ${file}")
  endif()
endforeach()
run(${root}/bin/vellin)
expect("${output}" "VELLIN")
run(${root}/bin/elfmap --help)
expect("${output}" "usage: elfmap")
# maplookup resolves against the map of the program built above.
run(${root}/bin/maplookup --units ${WORK_DIR}/program/orderentry.map)
expect("${output}" "orderentry")
message(STATUS "installed, built out of tree, packaged: all well")
