# SPDX-License-Identifier: ISC
#
# Builds firstshell against musl, for this machine's processor or for another that
# FIRSTSHELL_ARCH names by its Debian architecture (a row of processors.cmake), whose tests
# then run under qemu (-DCMAKE_TOOLCHAIN_FILE=cmake/musl.cmake [-DFIRSTSHELL_ARCH=armhf]).
# The compiler is GCC's C driver with musl's specs, as in musl-gcc: musl's headers and no C++
# library's, all the program needs. musl's specs link -static-pie as a dynamic program; here it
# links a static PIE, with musl's rcrt1.o and no program interpreter.

set(FIRSTSHELL_ARCH "${FIRSTSHELL_ARCH}" CACHE STRING
	"The Debian architecture to cross-build for; empty: this machine's")
# The configure step's probes read this file again, in projects of their own.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES FIRSTSHELL_ARCH)
include(${CMAKE_CURRENT_LIST_DIR}/processors.cmake)
set(row ${FIRSTSHELL_PROCESSORS})
if(FIRSTSHELL_ARCH)
	list(FILTER row INCLUDE REGEX "^${FIRSTSHELL_ARCH} ")
else()
	list(FILTER row INCLUDE REGEX " ${CMAKE_HOST_SYSTEM_PROCESSOR}$")
endif()
string(REGEX REPLACE " +" ";" row "${row}")
if(NOT row)
	message(FATAL_ERROR "firstshell: no processor '${FIRSTSHELL_ARCH}' (this machine's: "
		"${CMAKE_HOST_SYSTEM_PROCESSOR}) in cmake -P cmake/processors.cmake")
endif()
list(GET row 1 triplet)
list(GET row 2 musl)
list(GET row 3 emulator)
list(GET row 4 uname)

# A cross compiler and its binutils are named for their target; CMake would take the binutils'
# names from a C++ compiler's, not from this one's.
set(cc ${triplet}-gcc)
set(strip ${triplet}-strip)
if(uname STREQUAL CMAKE_HOST_SYSTEM_PROCESSOR)
	list(APPEND cc gcc)
	list(APPEND strip strip)
else()
	set(CMAKE_SYSTEM_NAME Linux)
	set(CMAKE_SYSTEM_PROCESSOR ${uname})
	# qemu for the processor, unless an emulator is given: a list, which a FILEPATH cache
	# entry of that name would make paths of.
	find_program(FIRSTSHELL_EMULATOR_${uname} ${emulator})
	if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
		set(CMAKE_CROSSCOMPILING_EMULATOR ${FIRSTSHELL_EMULATOR_${uname}})
	endif()
endif()
find_program(FIRSTSHELL_MUSL_CC_${uname} NAMES ${cc})
find_program(CMAKE_STRIP NAMES ${strip})
find_file(FIRSTSHELL_MUSL_SPECS_${uname} musl-gcc.specs
	PATHS /usr/lib/${musl} /usr/lib/musl/lib /usr/local/musl/lib
	NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
set(cc ${FIRSTSHELL_MUSL_CC_${uname}})
set(specs ${FIRSTSHELL_MUSL_SPECS_${uname}})
if(NOT specs OR NOT cc)
	message(FATAL_ERROR "firstshell: musl's musl-gcc.specs or GCC for ${uname} not found; "
		"doc/distributions.md says what to install")
endif()
get_filename_component(lib ${specs} DIRECTORY)

# musl's specs, with -static-pie made to link a static PIE, given by a script that runs the
# compiler, so that flags set by hand (or a blank in the build folder's path) cannot lose them.
file(WRITE ${CMAKE_BINARY_DIR}/musl.specs "\
%include <${specs}>
%rename startfile musl_startfile
%rename link musl_link

*startfile:
%{static-pie:${lib}/rcrt1.o ${lib}/crti.o crtbeginS.o%s;:%(musl_startfile)}

*link:
%{static-pie:-static -pie --no-dynamic-linker -z text -nostdlib;:%(musl_link)}
")
file(WRITE ${CMAKE_BINARY_DIR}/musl-cc
	"#!/bin/sh\nexec '${cc}' '-specs=${CMAKE_BINARY_DIR}/musl.specs' \"$@\"\n")
execute_process(COMMAND chmod 755 ${CMAKE_BINARY_DIR}/musl-cc)
set(CMAKE_CXX_COMPILER ${CMAKE_BINARY_DIR}/musl-cc)
