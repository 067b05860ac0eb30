# SPDX-License-Identifier: ISC
#
# Builds firstshell against musl instead of the system's C library
# (Debian: musl-dev), for this machine's processor unless a cross toolchain
# file (cross-musl.cmake) has set another:
#
#   cmake -S . -B build-musl -DCMAKE_TOOLCHAIN_FILE=cmake/musl.cmake
#
# The compiler is GCC's C driver with musl's specs, as in musl-gcc: musl's
# headers and no C++ library's, which is all the program needs, since it
# includes the C library's headers alone and links nothing of the C++
# runtime. musl's specs link -static-pie as a dynamic program; here it links
# a static PIE, with musl's rcrt1.o and no program interpreter.

# A cross toolchain file sets FIRSTSHELL_MUSL_TRIPLET, FIRSTSHELL_MUSL_DIR
# (musl's folder under /usr/lib) and FIRSTSHELL_MUSL_INSTALL (what to
# install); else they follow from the processor, as Debian names them.
if(CMAKE_SYSTEM_PROCESSOR)
	set(arch ${CMAKE_SYSTEM_PROCESSOR})
else()
	set(arch ${CMAKE_HOST_SYSTEM_PROCESSOR})
endif()
if(NOT FIRSTSHELL_MUSL_TRIPLET)
	set(FIRSTSHELL_MUSL_TRIPLET ${arch}-linux-gnu)
	set(FIRSTSHELL_MUSL_DIR ${arch}-linux-musl)
endif()
find_file(FIRSTSHELL_MUSL_SPECS musl-gcc.specs
	PATHS /usr/lib/${FIRSTSHELL_MUSL_DIR} /usr/lib/musl/lib
		/usr/local/musl/lib
	NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
# A cross compiler and its binutils are named for their target alone. CMake
# takes the binutils' names from a C++ compiler's, not from this one's.
if(arch STREQUAL CMAKE_HOST_SYSTEM_PROCESSOR)
	find_program(FIRSTSHELL_MUSL_CC NAMES ${FIRSTSHELL_MUSL_TRIPLET}-gcc gcc)
	find_program(CMAKE_STRIP NAMES ${FIRSTSHELL_MUSL_TRIPLET}-strip strip)
	set(install "apt-get install musl-dev; Debian 11: musl-dev musl-tools")
else()
	find_program(FIRSTSHELL_MUSL_CC NAMES ${FIRSTSHELL_MUSL_TRIPLET}-gcc)
	find_program(CMAKE_STRIP NAMES ${FIRSTSHELL_MUSL_TRIPLET}-strip)
	set(install "${FIRSTSHELL_MUSL_INSTALL}")
endif()
if(NOT FIRSTSHELL_MUSL_SPECS OR NOT FIRSTSHELL_MUSL_CC)
	message(FATAL_ERROR "firstshell: musl's musl-gcc.specs or GCC for "
		"${arch} not found; install them (Debian: ${install})")
endif()
get_filename_component(lib ${FIRSTSHELL_MUSL_SPECS} DIRECTORY)

# musl's specs, with -static-pie made to link a static PIE. Given with the
# compiler itself, so that flags set by hand cannot lose them.
set(specs ${CMAKE_BINARY_DIR}/musl.specs)
file(WRITE ${specs} "\
%include <${FIRSTSHELL_MUSL_SPECS}>
%rename startfile musl_startfile
%rename link musl_link

*startfile:
%{static-pie:${lib}/rcrt1.o ${lib}/crti.o crtbeginS.o%s;:%(musl_startfile)}

*link:
%{static-pie:-static -pie --no-dynamic-linker -z text -nostdlib;:%(musl_link)}
")
set(CMAKE_CXX_COMPILER ${FIRSTSHELL_MUSL_CC} -specs=${specs})
