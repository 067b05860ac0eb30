# SPDX-License-Identifier: ISC
#
# Cross-builds firstshell for 64-bit ARM Linux against musl, and runs its
# tests through qemu's user-mode emulator (Debian: g++-aarch64-linux-gnu,
# musl-dev:arm64 and qemu-user):
#
#   cmake -S . -B build-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-musl.cmake -DFIRSTSHELL_STATIC=ON

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(FIRSTSHELL_MUSL_INSTALL "dpkg --add-architecture arm64; apt-get update; \
apt-get install g++-aarch64-linux-gnu musl-dev:arm64")
include(${CMAKE_CURRENT_LIST_DIR}/musl.cmake)

find_program(FIRSTSHELL_QEMU_AARCH64 qemu-aarch64)
if(FIRSTSHELL_QEMU_AARCH64)
	set(CMAKE_CROSSCOMPILING_EMULATOR ${FIRSTSHELL_QEMU_AARCH64})
endif()
