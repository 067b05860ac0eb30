# SPDX-License-Identifier: ISC
#
# How firstshell is linked: dynamically by default, as a PIE when hardened;
# with FIRSTSHELL_STATIC, as a binary that loads nothing at run time, a static
# PIE where the toolchain links one (address-space randomisation stays), else
# a plain static one. Sets FIRSTSHELL_LINK, the link asked for: dynamic,
# static-pie or static.

# As a script (cmake -P) given READELF, BINARY, SETTINGS, VERSION and LIBC:
# SETTINGS, lines of NAME=VALUE for sh to source, for them and for how BINARY
# came out linked, as its headers tell (unknown without READELF or BINARY).
if(CMAKE_SCRIPT_MODE_FILE)
	execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C ${READELF} -h -l ${BINARY}
		RESULT_VARIABLE failed OUTPUT_VARIABLE headers ERROR_QUIET)
	if(failed)
		set(link unknown)
	elseif(headers MATCHES "INTERP")
		set(link dynamic)
	elseif(headers MATCHES "Type: +DYN")
		set(link static-pie)
	else()
		set(link static)
	endif()
	file(WRITE ${SETTINGS} "version=${VERSION}\nlibc=${LIBC}\nlink=${link}\n")
	return()
endif()

# firstshell_links(VAR COMPILE-FLAGS LINK-OPTIONS KIND): whether this
# toolchain links a program that calls the C library so, with the
# hardening's link options. A success is cached under a name keyed by the
# toolchain and the flags given; a failure is probed again each time, as
# what was missing may since have been installed.
function(firstshell_links var compile link kind)
	set(var ${var}_${FIRSTSHELL_PROBE_KEY})
	if(DEFINED ${var})
		set(linked ${${var}} PARENT_SCOPE)
		return()
	endif()
	set(dir ${CMAKE_BINARY_DIR}/CMakeFiles/firstshell-probe)
	file(WRITE ${dir}/probe.cpp "#include <stdio.h>
#include <unistd.h>
int main() { return puts(getusershell() ? \"/\" : \"\") == EOF; }
")
	try_compile(linked ${dir}/${kind} SOURCES ${dir}/probe.cpp
		COMPILE_DEFINITIONS ${compile}
		LINK_OPTIONS ${link} ${FIRSTSHELL_HARDEN_LINK})
	if(linked)
		set(${var} ${linked} CACHE INTERNAL "firstshell links with ${link}")
	endif()
	set(linked ${linked} PARENT_SCOPE)
endfunction()

set(FIRSTSHELL_LINK dynamic)
if(FIRSTSHELL_STATIC)
	if(FIRSTSHELL_SANITIZE)
		message(FATAL_ERROR "firstshell: sanitizer runtimes are shared "
			"libraries; FIRSTSHELL_STATIC and FIRSTSHELL_SANITIZE "
			"do not go together")
	endif()
	firstshell_links(FIRSTSHELL_LINKS_STATIC_PIE -fPIE -static-pie static-pie)
	if(linked)
		set(FIRSTSHELL_LINK static-pie)
		target_compile_options(firstshell_build INTERFACE -fPIE)
		target_link_options(firstshell_build INTERFACE -static-pie)
	else()
		firstshell_links(FIRSTSHELL_LINKS_STATIC "" -static static)
		if(NOT linked)
			message(FATAL_ERROR "firstshell: FIRSTSHELL_STATIC is "
				"on, but this toolchain links no static binary "
				"(is the C library's static archive here?)")
		endif()
		set(FIRSTSHELL_LINK static)
		target_link_options(firstshell_build INTERFACE -static)
	endif()
else()
	if(FIRSTSHELL_PIE)
		include(CheckPIESupported)
		check_pie_supported(LANGUAGES CXX)
		set(CMAKE_POSITION_INDEPENDENT_CODE ON)
	endif()
	# The program calls nothing in the C++ runtime: with --as-needed, GNU
	# linkers leave it out, and the process loads the C library alone.
	if(NOT given MATCHES " -Wl,--as-needed ")
		firstshell_links(FIRSTSHELL_LINKS_AS_NEEDED "" -Wl,--as-needed dynamic)
		if(linked)
			target_link_options(firstshell_build INTERFACE -Wl,--as-needed)
		endif()
	endif()
endif()
message(STATUS "firstshell: linking ${FIRSTSHELL_LINK}")
