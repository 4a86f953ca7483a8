# check_install.cmake: installs a build tree into a fresh prefix and checks
# the result as a user of the package would see it.
#
#   cmake -DBUILD_DIR=... -DWORK_DIR=... -DSOURCE_DIR=... -DVERSION=4.2 -DPOINTER_SIZE=8
#         -DCXX_COMPILER=... -DBUILD_TYPE=... -DGENERATOR=... [-DMAKE_PROGRAM=...]
#         -DBINDIR=bin -DLIBDIR=lib -DINCLUDEDIR=include -DMANDIR=share/man
#         -DHISTFEAT=ON|OFF -DTRACKVIDEO=ON|OFF -P check_install.cmake
#
# 1. cmake --install BUILD_DIR --prefix WORK_DIR/stage, then the prefix is
#    moved to WORK_DIR/prefix: the package must not depend on where it was
#    installed, nor on the source or build tree.
# 2. The layout: the programs, libtavo.a, the headers, the manual pages, the
#    package files, trackvideo's video module; nothing of the tests. The moved
#    trackvideo writes a video and reads it back (it finds its module).
# 3. The package files name no path of the source tree, the build tree or the
#    first prefix; the version file accepts 4.x for x <= the version and
#    nothing else.
# 4. The consumer project beside this script is configured against the prefix
#    alone with the same compiler, built and run; its output is compared.

foreach(var BUILD_DIR WORK_DIR SOURCE_DIR VERSION POINTER_SIZE CXX_COMPILER GENERATOR BINDIR
            LIBDIR INCLUDEDIR MANDIR)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "check_install: ${var} is not set")
  endif()
endforeach()

set(stage ${WORK_DIR}/stage)
set(prefix ${WORK_DIR}/prefix)
set(consumer_build ${WORK_DIR}/consumer-build)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

# run(<what> COMMAND ...): runs the command, fails with its output unless it
# succeeds; leaves the output in run_out / run_err.
macro(run what)
  execute_process(${ARGN} RESULT_VARIABLE run_rc OUTPUT_VARIABLE run_out ERROR_VARIABLE run_err)
  if(NOT run_rc EQUAL 0)
    message(FATAL_ERROR "check_install: ${what} failed (${run_rc}):\n${run_out}\n${run_err}")
  endif()
endmacro()

# --- 1. install, then move the prefix ------------------------------------------
run("cmake --install" COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${stage})
file(RENAME ${stage} ${prefix})

# --- 2. layout -------------------------------------------------------------------
set(package_dir ${LIBDIR}/cmake/tavo)
set(expected
    ${BINDIR}/trackpair
    ${LIBDIR}/libtavo.a
    ${INCLUDEDIR}/tavo/tavo.h
    ${MANDIR}/man1/trackpair.1
    ${package_dir}/tavoConfig.cmake
    ${package_dir}/tavoConfigVersion.cmake
    ${package_dir}/tavoTargets.cmake)
if(HISTFEAT)
  list(APPEND expected ${BINDIR}/histfeat ${MANDIR}/man1/histfeat.1)
endif()
if(TRACKVIDEO)
  list(APPEND expected ${BINDIR}/trackvideo ${MANDIR}/man1/trackvideo.1
       ${LIBDIR}/trackvideo/trackvideo-ffmpeg.so)
endif()
# Every header of the library, the internal ones included (the public
# headers' inline code needs them), no more and no less.
file(GLOB_RECURSE source_headers RELATIVE ${SOURCE_DIR}/lib/include/tavo
  ${SOURCE_DIR}/lib/include/tavo/*.h)
list(SORT source_headers)
foreach(h IN LISTS source_headers)
  list(APPEND expected ${INCLUDEDIR}/tavo/${h})
endforeach()
foreach(f IN LISTS expected)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "check_install: ${f} is missing under the prefix")
  endif()
endforeach()
file(GLOB_RECURSE installed_headers RELATIVE ${prefix}/${INCLUDEDIR}/tavo
  ${prefix}/${INCLUDEDIR}/tavo/*)
list(SORT installed_headers)
if(NOT installed_headers STREQUAL source_headers)
  message(FATAL_ERROR "check_install: include/tavo holds '${installed_headers}', "
                      "the library has '${source_headers}'")
endif()
# Only the programs are installed in bin/, and only the library's archive
# (and its package) in lib/.
file(GLOB installed_programs RELATIVE ${prefix}/${BINDIR} ${prefix}/${BINDIR}/*)
set(programs trackpair)
if(HISTFEAT)
  list(APPEND programs histfeat)
endif()
if(TRACKVIDEO)
  list(APPEND programs trackvideo)
endif()
list(SORT installed_programs)
list(SORT programs)
if(NOT installed_programs STREQUAL programs)
  message(FATAL_ERROR "check_install: ${BINDIR}/ holds '${installed_programs}', expected '${programs}'")
endif()
foreach(program IN LISTS programs)
  run("${program} is executable" COMMAND test -x ${prefix}/${BINDIR}/${program})
endforeach()
# The moved trackvideo finds its video module: it writes a video of the
# bundled footage, then reads it back.
if(TRACKVIDEO)
  set(footage ${SOURCE_DIR}/examples/footage)
  set(ENV{TRACKVIDEO_FFMPEG_MODULE} "")
  run("trackvideo writing a video" COMMAND ${prefix}/${BINDIR}/trackvideo --tracks
      ${footage}/tracks.txt --frames ${footage} --quiet --overlay-video ${WORK_DIR}/footage.avi)
  run("trackvideo reading a video" COMMAND ${prefix}/${BINDIR}/trackvideo --tracks
      ${footage}/tracks.txt --video ${WORK_DIR}/footage.avi --quiet)
endif()
file(GLOB installed_archives ${prefix}/${LIBDIR}/*.a)
if(NOT installed_archives STREQUAL "${prefix}/${LIBDIR}/libtavo.a")
  message(FATAL_ERROR "check_install: ${LIBDIR}/ holds the archives '${installed_archives}'")
endif()

# --- 3. package files ------------------------------------------------------------
file(GLOB package_files ${prefix}/${package_dir}/*.cmake)
foreach(f IN LISTS package_files)
  file(READ ${f} text)
  foreach(tree ${SOURCE_DIR} ${BUILD_DIR} ${WORK_DIR})
    string(FIND "${text}" "${tree}" at)
    if(NOT at EQUAL -1)
      message(FATAL_ERROR "check_install: ${f} names the path ${tree}")
    endif()
  endforeach()
endforeach()

# The version file as find_package runs it: PACKAGE_FIND_VERSION* in,
# PACKAGE_VERSION_COMPATIBLE / _EXACT out.
function(check_version wanted compatible exact)
  string(REPLACE "." ";" parts ${wanted})
  list(GET parts 0 PACKAGE_FIND_VERSION_MAJOR)
  list(GET parts 1 PACKAGE_FIND_VERSION_MINOR)
  set(PACKAGE_FIND_VERSION ${wanted})
  set(PACKAGE_FIND_VERSION_COUNT 2)
  set(PACKAGE_FIND_VERSION_RANGE FALSE)
  set(CMAKE_SIZEOF_VOID_P ${sizeof_void_p})
  set(PACKAGE_VERSION_COMPATIBLE FALSE)
  set(PACKAGE_VERSION_EXACT FALSE)
  set(PACKAGE_VERSION_UNSUITABLE FALSE)
  include(${prefix}/${package_dir}/tavoConfigVersion.cmake)
  if(PACKAGE_VERSION_UNSUITABLE)  # find_package then takes neither answer
    set(PACKAGE_VERSION_COMPATIBLE FALSE)
    set(PACKAGE_VERSION_EXACT FALSE)
  endif()
  # (the pointer-size check appends the size the package was built for)
  if(NOT PACKAGE_VERSION MATCHES "^${VERSION}( |$)")
    message(FATAL_ERROR "check_install: the package says version ${PACKAGE_VERSION}, not ${VERSION}")
  endif()
  if(NOT "${PACKAGE_VERSION_COMPATIBLE}" STREQUAL "${compatible}"
     OR NOT "${PACKAGE_VERSION_EXACT}" STREQUAL "${exact}")
    message(FATAL_ERROR "check_install: asked for ${wanted}, the package answers compatible "
                        "${PACKAGE_VERSION_COMPATIBLE}, exact ${PACKAGE_VERSION_EXACT}; "
                        "expected ${compatible}, ${exact}")
  endif()
endfunction()
if(NOT VERSION MATCHES "^([0-9]+)\\.([0-9]+)$")
  message(FATAL_ERROR "check_install: VERSION ${VERSION} is not major.minor")
endif()
set(major ${CMAKE_MATCH_1})
set(minor ${CMAKE_MATCH_2})
math(EXPR next_major "${major} + 1")
math(EXPR prev_major "${major} - 1")
math(EXPR next_minor "${minor} + 1")
set(sizeof_void_p ${POINTER_SIZE})
check_version(${VERSION} TRUE TRUE)
check_version(${major}.0 TRUE FALSE)
check_version(${major}.${next_minor} FALSE FALSE)
check_version(${next_major}.0 FALSE FALSE)
check_version(${prev_major}.9 FALSE FALSE)
# Built for one pointer size: a consumer with the other does not get it.
if(POINTER_SIZE EQUAL 8)
  set(sizeof_void_p 4)
else()
  set(sizeof_void_p 8)
endif()
check_version(${VERSION} FALSE FALSE)

# --- 4. the consumer ---------------------------------------------------------------
set(configure_args -S ${CMAKE_CURRENT_LIST_DIR} -B ${consumer_build} -G ${GENERATOR}
    -DCMAKE_CXX_COMPILER=${CXX_COMPILER} -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_EXPORT_COMPILE_COMMANDS=ON)
if(BUILD_TYPE)
  list(APPEND configure_args -DCMAKE_BUILD_TYPE=${BUILD_TYPE})
endif()
if(MAKE_PROGRAM)
  list(APPEND configure_args -DCMAKE_MAKE_PROGRAM=${MAKE_PROGRAM})
endif()
run("configuring the consumer" COMMAND ${CMAKE_COMMAND} ${configure_args})
set(configure_out "${run_out}")

# The package, the library and the headers it resolved to are the prefix's.
foreach(what package library includes)
  if(NOT configure_out MATCHES "-- tavo ${what}: ([^\n]*)")
    message(FATAL_ERROR "check_install: the consumer did not report its tavo ${what}:\n${configure_out}")
  endif()
  set(found "${CMAKE_MATCH_1}")
  string(FIND "${found}" "${prefix}/" at)
  if(NOT at EQUAL 0 OR found MATCHES ";")
    message(FATAL_ERROR "check_install: tavo ${what} is '${found}', not under ${prefix}")
  endif()
endforeach()
# The compile commands reach no header of the source tree.
file(READ ${consumer_build}/compile_commands.json commands)
string(FIND "${commands}" "${SOURCE_DIR}/lib" at)
if(NOT at EQUAL -1)
  message(FATAL_ERROR "check_install: the consumer compiles with ${SOURCE_DIR}/lib:\n${commands}")
endif()

run("building the consumer" COMMAND ${CMAKE_COMMAND} --build ${consumer_build})
run("running the consumer" COMMAND ${consumer_build}/tavo_consumer)
set(expected_output "apple 1\nfig 3\npear 2\n3 words\npackage ${VERSION}, library TAVO ${VERSION}\n")
if(NOT run_out STREQUAL expected_output)
  message(FATAL_ERROR "check_install: the consumer printed\n${run_out}\ninstead of\n${expected_output}")
endif()
if(NOT run_err STREQUAL "")
  message(FATAL_ERROR "check_install: the consumer wrote on standard error:\n${run_err}")
endif()

file(REMOVE_RECURSE ${WORK_DIR})
message(STATUS "check_install: ${prefix} complete and relocatable; the consumer works")
