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

# firstshell_links(VAR COMPILE_FLAGS LINK_OPTIONS LINK): whether the program
# compiles and links so, with the hardening's link options. A static link must
# also come out as LINK says: a compiler driver may take -static-pie and still
# write in a program interpreter, as musl-gcc does.
function(firstshell_links var compile link kind)
	if(DEFINED ${var})
		return()
	endif()
	set(out ${CMAKE_BINARY_DIR}/CMakeFiles/${var}.bin)
	try_compile(linked ${CMAKE_BINARY_DIR}/CMakeFiles/${var}
		SOURCES ${PROJECT_SOURCE_DIR}/src/firstshell.cpp
		COMPILE_DEFINITIONS ${compile}
		LINK_OPTIONS ${link} ${FIRSTSHELL_HARDEN_LINK}
		COPY_FILE ${out})
	if(linked AND kind MATCHES "^static")
		# What readelf cannot read counts as not static.
		execute_process(COMMAND ${CMAKE_READELF} -h -l -d ${out}
			OUTPUT_VARIABLE headers ERROR_QUIET)
		if(NOT headers MATCHES "LOAD" OR headers MATCHES "INTERP|NEEDED")
			set(linked FALSE)
		elseif(kind STREQUAL "static-pie" AND
			NOT headers MATCHES "Type: +DYN")
			set(linked FALSE)
		endif()
	endif()
	set(${var} ${linked} CACHE INTERNAL "firstshell links with ${link}")
endfunction()

set(FIRSTSHELL_LINK dynamic)
if(FIRSTSHELL_STATIC)
	if(FIRSTSHELL_SANITIZE)
		message(FATAL_ERROR "firstshell: sanitizer runtimes are shared "
			"libraries; FIRSTSHELL_STATIC and FIRSTSHELL_SANITIZE "
			"do not go together")
	endif()
	firstshell_links(FIRSTSHELL_LINKS_STATIC_PIE -fPIE -static-pie static-pie)
	if(FIRSTSHELL_LINKS_STATIC_PIE)
		set(FIRSTSHELL_LINK static-pie)
		target_compile_options(firstshell_build INTERFACE -fPIE)
		target_link_options(firstshell_build INTERFACE -static-pie)
	else()
		firstshell_links(FIRSTSHELL_LINKS_STATIC "" -static static)
		if(NOT FIRSTSHELL_LINKS_STATIC)
			message(FATAL_ERROR "firstshell: FIRSTSHELL_STATIC is "
				"on, but this toolchain links no static binary "
				"(are the C library's static archive and readelf here?)")
		endif()
		set(FIRSTSHELL_LINK static)
		target_link_options(firstshell_build INTERFACE -static)
	endif()
else()
	if(FIRSTSHELL_HARDEN)
		include(CheckPIESupported)
		check_pie_supported(LANGUAGES CXX)
		set(CMAKE_POSITION_INDEPENDENT_CODE ON)
	endif()
	if(NOT APPLE)
		# The program calls nothing in the C++ runtime: the process
		# should load the C library alone.
		firstshell_links(FIRSTSHELL_LINKS_AS_NEEDED "" -Wl,--as-needed
			dynamic)
		if(FIRSTSHELL_LINKS_AS_NEEDED)
			target_link_options(firstshell_build INTERFACE
				-Wl,--as-needed)
		endif()
	endif()
endif()
# Kept in the cache so that the tests and the benchmark know what they run.
set(FIRSTSHELL_LINK ${FIRSTSHELL_LINK} CACHE INTERNAL "How firstshell is linked")
message(STATUS "firstshell: linking ${FIRSTSHELL_LINK}")
