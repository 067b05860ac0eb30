# SPDX-License-Identifier: ISC
#
# The processors firstshell is built and tested for, a row each: the Debian architecture, the
# GNU triplet of its compiler (Debian: g++-TRIPLET), musl's folder under /usr/lib
# (musl-dev:ARCH), qemu's emulator for it (qemu-user), and the name its standalone tarball
# carries: what `uname -m` reports there (armel's ARMv5TE baseline: armv5tel), but for
# mips64el, whose machines report mips64 as big-endian ones do. ARMv6 machines (armv6l) run
# armel's, and 32-bit ARMv8 ones (armv8l) armhf's.
# `cmake -P cmake/processors.cmake` prints the table, a row a line.
set(FIRSTSHELL_PROCESSORS
	"amd64    x86_64-linux-gnu        x86_64-linux-musl       qemu-x86_64   x86_64"
	"arm64    aarch64-linux-gnu       aarch64-linux-musl      qemu-aarch64  aarch64"
	"armhf    arm-linux-gnueabihf     arm-linux-musleabihf    qemu-arm      armv7l"
	"armel    arm-linux-gnueabi       arm-linux-musleabi      qemu-arm      armv5tel"
	"i386     i686-linux-gnu          i386-linux-musl         qemu-i386     i686"
	"ppc64el  powerpc64le-linux-gnu   powerpc64le-linux-musl  qemu-ppc64le  ppc64le"
	"s390x    s390x-linux-gnu         s390x-linux-musl        qemu-s390x    s390x"
	"mips64el mips64el-linux-gnuabi64 mips64el-linux-musl     qemu-mips64el mips64el")

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
	string(REPLACE ";" "\n" table "${FIRSTSHELL_PROCESSORS}")
	execute_process(COMMAND ${CMAKE_COMMAND} -E echo "${table}")
endif()
