# SPDX-License-Identifier: ISC
#
# Builds firstshell against musl instead of the system's C library, through
# the musl-gcc wrapper (Debian: musl-tools):
#
#   cmake -S . -B build-musl -DCMAKE_TOOLCHAIN_FILE=cmake/musl.cmake
#
# The wrapper gives the compiler musl's headers and no C++ library's, which
# is all the program needs: it includes the C library's headers alone, and
# links nothing of the C++ runtime.

find_program(FIRSTSHELL_MUSL_GCC NAMES musl-gcc)
if(NOT FIRSTSHELL_MUSL_GCC)
	message(FATAL_ERROR "firstshell: musl-gcc not found; install musl's "
		"tools (Debian: apt-get install musl-tools)")
endif()
set(CMAKE_CXX_COMPILER ${FIRSTSHELL_MUSL_GCC})
