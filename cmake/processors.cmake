# SPDX-License-Identifier: ISC
#
# The processors firstshell is cross-built for against musl, one a row: the
# Debian architecture that names it, the GNU triplet of its cross compiler
# (Debian: g++-TRIPLET), musl's folder under /usr/lib (Debian: musl-dev:ARCH),
# qemu's user-mode emulator for it (Debian: qemu-user), and the name
# `uname -m` gives on such a machine, which the standalone tarball carries.
# armel's ARMv5TE baseline is reported as armv5tel. Adding a processor is
# adding a row.
set(FIRSTSHELL_PROCESSORS
	"arm64    aarch64-linux-gnu       aarch64-linux-musl      qemu-aarch64  aarch64"
	"armhf    arm-linux-gnueabihf     arm-linux-musleabihf    qemu-arm      armv7l"
	"armel    arm-linux-gnueabi       arm-linux-musleabi      qemu-arm      armv5tel"
	"i386     i686-linux-gnu          i386-linux-musl         qemu-i386     i686"
	"ppc64el  powerpc64le-linux-gnu   powerpc64le-linux-musl  qemu-ppc64le  ppc64le"
	"s390x    s390x-linux-gnu         s390x-linux-musl        qemu-s390x    s390x"
	"mips64el mips64el-linux-gnuabi64 mips64el-linux-musl     qemu-mips64el mips64")

# firstshell_processor(ARCH): sets firstshell_triplet, firstshell_musl,
# firstshell_emulator and firstshell_uname for the Debian architecture ARCH,
# or fails naming those there are.
function(firstshell_processor arch)
	set(archs "")
	foreach(row IN LISTS FIRSTSHELL_PROCESSORS)
		string(REGEX REPLACE " +" ";" row "${row}")
		list(GET row 0 name)
		list(APPEND archs ${name})
		if(name STREQUAL arch)
			foreach(field triplet musl emulator uname)
				list(REMOVE_AT row 0)
				list(GET row 0 value)
				set(firstshell_${field} ${value} PARENT_SCOPE)
			endforeach()
			return()
		endif()
	endforeach()
	string(REPLACE ";" " " archs "${archs}")
	message(FATAL_ERROR "firstshell: no processor '${arch}'; "
		"FIRSTSHELL_ARCH is one of: ${archs}")
endfunction()
