# SPDX-License-Identifier: ISC
#
# Cross-builds firstshell against musl for the processor that FIRSTSHELL_ARCH
# names, as a Debian architecture (a cache setting, or the environment's),
# and runs its tests through qemu's user-mode emulator; processors.cmake has
# the list, and what each needs installed:
#
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/cross-musl.cmake \
#       -DFIRSTSHELL_ARCH=armhf -DFIRSTSHELL_STATIC=ON

if(NOT FIRSTSHELL_ARCH)
	set(FIRSTSHELL_ARCH "$ENV{FIRSTSHELL_ARCH}")
endif()
set(FIRSTSHELL_ARCH "${FIRSTSHELL_ARCH}" CACHE STRING
	"The Debian architecture to cross-build for, e.g. armhf")
# The configure step's probes read this file again, in projects of their own.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES FIRSTSHELL_ARCH)
include(${CMAKE_CURRENT_LIST_DIR}/processors.cmake)
firstshell_processor("${FIRSTSHELL_ARCH}")

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${firstshell_uname})
set(FIRSTSHELL_MUSL_TRIPLET ${firstshell_triplet})
set(FIRSTSHELL_MUSL_DIR ${firstshell_musl})
set(FIRSTSHELL_MUSL_INSTALL "dpkg --add-architecture ${FIRSTSHELL_ARCH}; \
apt-get update; apt-get install g++-${firstshell_triplet} \
musl-dev:${FIRSTSHELL_ARCH}")
include(${CMAKE_CURRENT_LIST_DIR}/musl.cmake)

find_program(FIRSTSHELL_EMULATOR_${FIRSTSHELL_ARCH} ${firstshell_emulator})
if(FIRSTSHELL_EMULATOR_${FIRSTSHELL_ARCH})
	set(CMAKE_CROSSCOMPILING_EMULATOR
		${FIRSTSHELL_EMULATOR_${FIRSTSHELL_ARCH}})
endif()
