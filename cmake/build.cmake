# SPDX-License-Identifier: ISC
#
# How firstshell is built, on the firstshell_build target, for this toolchain and the flags
# given (CMAKE_CXX_FLAGS, CMAKE_EXE_LINKER_FLAGS, each configuration's). Sets FIRSTSHELL_LIBC
# (glibc, musl or other), FIRSTSHELL_LINK (dynamic, static-pie or static), and FIRSTSHELL_ELF,
# what the program's headers must show of pie, relro and now (immediate binding).

include(CheckCXXCompilerFlag)
include(CheckCXXSourceCompiles)
include(CheckLinkerFlag)
include(CheckPIESupported)
set(CMAKE_REQUIRED_QUIET ON)
set(configs ${CMAKE_CONFIGURATION_TYPES} ${CMAKE_BUILD_TYPE})
set(given " ${CMAKE_CXX_FLAGS} ${CMAKE_EXE_LINKER_FLAGS} ")
foreach(config IN LISTS configs)
	string(TOUPPER "${config}" config)
	string(APPEND given "${CMAKE_CXX_FLAGS_${config}} ${CMAKE_EXE_LINKER_FLAGS_${config}} ")
endforeach()

# firstshell_check(VAR CHECK ARG...): whether CMake's CHECK passes, given ARGs; asked at each
# configure, as the toolchain, the flags or what is installed may have changed since.
function(firstshell_check var check)
	unset(FIRSTSHELL_CHECK CACHE)
	cmake_language(CALL ${check} ${ARGN} FIRSTSHELL_CHECK)
	set(${var} ${FIRSTSHELL_CHECK} PARENT_SCOPE)
endfunction()

# The C library, from what its <stdio.h> defines: glibc's macro, which uClibc
# defines too, or musl's for the type FILE, which is musl's alone.
set(FIRSTSHELL_LIBC other)
set(glibc "defined(__GLIBC__) && !defined(__UCLIBC__)")
set(musl "defined(__DEFINED_FILE)")
foreach(libc glibc musl)
	firstshell_check(is check_cxx_source_compiles
		"#include <stdio.h>\n#if ${${libc}}\nint main() {}\n#endif")
	if(is)
		set(FIRSTSHELL_LIBC ${libc})
	endif()
endforeach()

# Warnings, hardening and --as-needed (the C++ runtime, which the program calls nothing in, is
# then not loaded), each where the flags given lack it and the toolchain takes it, before them
# so that a refusal there wins (-fno-stack-protector, -Wl,-z,lazy...): tools take the last.
set(compile "")
set(link "")
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
	set(flags -Wall -Wextra -Wpedantic -Wconversion -Wshadow -Wl,--as-needed)
	if(FIRSTSHELL_WERROR)
		list(APPEND flags -Werror)
	endif()
	if(FIRSTSHELL_HARDEN)
		# -fcf-protection is refused off x86, which has no CET.
		list(APPEND flags -fstack-protector-strong -fstack-clash-protection
			-fcf-protection -Wl,-z,relro -Wl,-z,now)
	endif()
	foreach(flag IN LISTS flags)
		if(flag MATCHES "^-Wl,")
			firstshell_check(takes check_linker_flag CXX ${flag})
			set(into link)
		else()
			firstshell_check(takes check_cxx_compiler_flag ${flag})
			set(into compile)
		endif()
		if(takes AND NOT given MATCHES " ${flag} ")
			string(APPEND ${into} " ${flag}")
		endif()
	endforeach()
	# A program that throws nothing: with unwind tables that the flags ask for,
	# it needs libgcc's routines (on 32-bit ARM), linked in rather than loaded.
	target_compile_options(firstshell_build INTERFACE -fno-exceptions)
	target_link_options(firstshell_build INTERFACE -static-libgcc)
	if(FIRSTSHELL_SANITIZE)
		target_compile_options(firstshell_build INTERFACE -fsanitize=${FIRSTSHELL_SANITIZE}
			-fno-sanitize-recover=all -fno-omit-frame-pointer)
		target_link_options(firstshell_build INTERFACE -fsanitize=${FIRSTSHELL_SANITIZE})
	endif()
endif()
set(CMAKE_CXX_FLAGS "${compile} ${CMAKE_CXX_FLAGS}")
set(CMAKE_EXE_LINKER_FLAGS "${link} ${CMAKE_EXE_LINKER_FLAGS}")

# glibc's fortified calls need optimisation, and warn without it: for the configurations whose
# flags optimise, unless the compiler or the flags given set or unset it. musl has none.
if(FIRSTSHELL_HARDEN AND FIRSTSHELL_LIBC STREQUAL "glibc" AND NOT given MATCHES "_FORTIFY_SOURCE")
	foreach(config IN LISTS configs)
		set(CMAKE_TRY_COMPILE_CONFIGURATION ${config})
		firstshell_check(is check_cxx_source_compiles
			"#if __OPTIMIZE__ && !defined(_FORTIFY_SOURCE)\nint main() {}\n#endif")
		if(is)
			target_compile_definitions(firstshell_build INTERFACE
				$<$<CONFIG:${config}>:_FORTIFY_SOURCE=2>)
			string(APPEND fortified " -D_FORTIFY_SOURCE=2 (${config})")
		endif()
	endforeach()
	unset(CMAKE_TRY_COMPILE_CONFIGURATION)
endif()

# Linked dynamically, as a PIE where hardened; with FIRSTSHELL_STATIC, a program that loads
# nothing at run time: a static PIE where the toolchain links one, else a plain static one.
set(refuse_pie "no-pie|-fno-PIE|-static ")
set(pie OFF)
set(FIRSTSHELL_LINK dynamic)
if(FIRSTSHELL_STATIC)
	if(FIRSTSHELL_SANITIZE)
		message(FATAL_ERROR "firstshell: sanitizer runtimes are shared libraries; "
			"FIRSTSHELL_STATIC and FIRSTSHELL_SANITIZE do not go together")
	endif()
	set(CMAKE_REQUIRED_FLAGS -fPIE)
	firstshell_check(pie check_linker_flag CXX -static-pie)
	unset(CMAKE_REQUIRED_FLAGS)
	firstshell_check(is check_linker_flag CXX -static)
	if(pie)
		set(FIRSTSHELL_LINK static-pie)
		target_compile_options(firstshell_build INTERFACE -fPIE)
	elseif(is)
		set(FIRSTSHELL_LINK static)
	else()
		message(FATAL_ERROR "firstshell: FIRSTSHELL_STATIC is on, but this toolchain links "
			"no static program (is the C library's static archive here?)")
	endif()
	target_link_options(firstshell_build INTERFACE -${FIRSTSHELL_LINK})
elseif(FIRSTSHELL_HARDEN AND NOT given MATCHES "${refuse_pie}")
	unset(CMAKE_CXX_LINK_PIE_SUPPORTED CACHE)
	check_pie_supported(OUTPUT_VARIABLE why LANGUAGES CXX)
	set(pie ${CMAKE_CXX_LINK_PIE_SUPPORTED})
	set(CMAKE_POSITION_INDEPENDENT_CODE ${pie})
endif()

# What the headers must show where hardened: what the flags added or given make, but refuse.
set(FIRSTSHELL_ELF "")
set(refuse_relro "-z,?norelro")
set(refuse_now "-z,?lazy")
foreach(property pie relro now)
	if(FIRSTSHELL_HARDEN AND NOT given MATCHES "${refuse_${property}}"
		AND (${property} OR "${link}${given}" MATCHES " -Wl,-z,${property} "))
		list(APPEND FIRSTSHELL_ELF ${property})
	endif()
endforeach()
message(STATUS "firstshell: ${FIRSTSHELL_LIBC}, linked ${FIRSTSHELL_LINK}; flags added:"
	"${compile}${fortified}${link}; the headers must show: ${FIRSTSHELL_ELF}")
