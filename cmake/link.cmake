# SPDX-License-Identifier: ISC
#
# How firstshell is linked. By default against the system's C library, so that
# the program reports the list as the library installed on the system reads
# it, its fixes included; as a PIE when hardened. FIRSTSHELL_STATIC asks for a
# binary that loads nothing at run time: a static PIE, to keep address-space
# randomisation, or else a plain static one. Sets FIRSTSHELL_LINK to dynamic,
# static-pie or static, and puts the options on the firstshell_build target.

if(NOT CMAKE_READELF)
	find_program(CMAKE_READELF readelf)
endif()

# firstshell_links(VAR COMPILE-FLAGS LINK-OPTIONS KIND): whether this
# toolchain links a program that calls the C library so, with the
# hardening's link options. A static link must also come out as KIND says: a
# compiler driver may take -static-pie and still write in a program
# interpreter, as musl-gcc does. A success is cached under a name keyed by
# the toolchain and the flags given; a failure is probed again each time, as
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
		LINK_OPTIONS ${link} ${FIRSTSHELL_HARDEN_LINK}
		COPY_FILE ${dir}/${kind}.bin)
	if(linked AND kind MATCHES "^static")
		# What readelf cannot read counts as not static.
		execute_process(COMMAND ${CMAKE_READELF} -h -l -d ${dir}/${kind}.bin
			OUTPUT_VARIABLE headers ERROR_QUIET)
		if(NOT headers MATCHES "LOAD" OR headers MATCHES "INTERP|NEEDED")
			set(linked FALSE)
		elseif(kind STREQUAL "static-pie" AND
			NOT headers MATCHES "Type: +DYN")
			set(linked FALSE)
		endif()
	endif()
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
				"(are the C library's static archive and readelf here?)")
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
	# The program calls nothing in the C++ runtime: the process should
	# load the C library alone. GNU linkers drop what is not called with
	# --as-needed, Apple's with -dead_strip_dylibs.
	foreach(option -Wl,--as-needed -Wl,-dead_strip_dylibs)
		if(given MATCHES " ${option} ")
			break()
		endif()
		string(MAKE_C_IDENTIFIER "FIRSTSHELL_LINKS${option}" var)
		firstshell_links(${var} "" ${option} dynamic)
		if(linked)
			target_link_options(firstshell_build INTERFACE ${option})
			break()
		endif()
	endforeach()
endif()
# Kept in the cache so that the tests and the benchmark know what they run.
set(FIRSTSHELL_LINK ${FIRSTSHELL_LINK} CACHE INTERNAL "How firstshell is linked")
message(STATUS "firstshell: linking ${FIRSTSHELL_LINK}")
