# SPDX-License-Identifier: ISC
#
# The hardening doc/distributions.md states, on the firstshell_build target.
# Sets `given`, the flags given (CMAKE_CXX_FLAGS, CMAKE_EXE_LINKER_FLAGS and
# each configuration's), each between blanks;
# FIRSTSHELL_PROBE_KEY, which names cached probe answers; FIRSTSHELL_LIBC, the
# C library the compiler builds against; FIRSTSHELL_HARDEN_LINK and
# FIRSTSHELL_PIE, for link.cmake; and FIRSTSHELL_ELF, what the linked binary
# must show: pie, relro and now (immediate binding), but for those refused.

option(FIRSTSHELL_HARDEN
	"Add the hardening flags that the flags given neither carry nor refuse"
	ON)
set(FIRSTSHELL_HARDEN_LINK "")
set(FIRSTSHELL_PIE OFF)

# A probe's answer depends on the toolchain and the flags given: its cache
# entry is named for them, so that other flags are probed anew.
if(CMAKE_CONFIGURATION_TYPES)
	set(configs ${CMAKE_CONFIGURATION_TYPES})
else()
	set(configs ${CMAKE_BUILD_TYPE})
endif()

set(given " ${CMAKE_CXX_FLAGS} ${CMAKE_EXE_LINKER_FLAGS} ")
foreach(config IN LISTS configs)
	string(TOUPPER "${config}" config)
	string(APPEND given "${CMAKE_CXX_FLAGS_${config}} "
		"${CMAKE_EXE_LINKER_FLAGS_${config}} ")
endforeach()
string(SHA1 key "${CMAKE_CXX_COMPILER};${CMAKE_CXX_COMPILER_ARG1};${given}")
string(SUBSTRING ${key} 0 12 FIRSTSHELL_PROBE_KEY)

# The C library, from what its <stdio.h> defines: uClibc defines glibc's
# macro too; musl has none of its own, but names the types it has defined
# (GCC's <stddef.h> defines musl's name for size_t; FILE's is musl's alone).
include(CheckCXXSourceCompiles)
set(CMAKE_REQUIRED_QUIET ON)
set(FIRSTSHELL_LIBC other)
set(names glibc musl)
set(tests "defined(__GLIBC__) && !defined(__UCLIBC__)" "defined(__DEFINED_FILE)")
foreach(name test IN ZIP_LISTS names tests)
	check_cxx_source_compiles("#include <stdio.h>
#if !(${test})
#error
#endif
int main() { return 0; }" FIRSTSHELL_IS_${name}_${FIRSTSHELL_PROBE_KEY})
	if(FIRSTSHELL_IS_${name}_${FIRSTSHELL_PROBE_KEY})
		set(FIRSTSHELL_LIBC ${name})
	endif()
endforeach()
message(STATUS "firstshell: C library: ${FIRSTSHELL_LIBC}")

# A PIE, full RELRO and immediate binding, unless the flags given refuse
# them as these do (dpkg's hardening=-pie and -all refuse a PIE with specs).
set(refuse_pie "-fno-(PIE|pie)|-no-pie|-static|[^ ]*no-pie[^ ]*specs")
set(refuse_relro "-Wl,([^ ]*,)?-z,?norelro")
set(refuse_now "-Wl,([^ ]*,)?-z,?lazy")
set(FIRSTSHELL_ELF "")
foreach(property pie relro now)
	if(FIRSTSHELL_HARDEN AND NOT given MATCHES " (${refuse_${property}})[ ,]")
		list(APPEND FIRSTSHELL_ELF ${property})
	endif()
endforeach()

if(NOT FIRSTSHELL_HARDEN OR NOT CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
	return()
endif()

include(CheckCXXCompilerFlag)
set(added "")
set(kept "")
set(lacking "")
# harden(FLAG SAID): FLAG, unless the flags given have a word that SAID
# matches (FLAG, another form of it, or its refusal), or the toolchain
# refuses it.
function(harden flag said)
	if(given MATCHES " (${said}) ")
		list(APPEND kept ${CMAKE_MATCH_1})
	else()
		string(MAKE_C_IDENTIFIER "FIRSTSHELL_HAS${flag}_${FIRSTSHELL_PROBE_KEY}" var)
		if(flag MATCHES "^-Wl,")
			set(CMAKE_REQUIRED_LINK_OPTIONS ${flag})
			check_cxx_source_compiles("int main() { return 0; }" ${var})
		else()
			check_cxx_compiler_flag(${flag} ${var})
		endif()
		if(${var})
			list(APPEND added ${flag})
		elseif(flag MATCHES "^-Wl,-z,")
			# The ELF case would find the binary lacking it.
			message(FATAL_ERROR "firstshell: this toolchain links nothing "
				"with ${flag}; refuse it in the flags given (-Wl,-z,lazy, "
				"-Wl,-z,norelro) or give -DFIRSTSHELL_HARDEN=OFF")
		else()
			list(APPEND lacking ${flag})
		endif()
	endif()
	foreach(list added kept lacking)
		set(${list} ${${list}} PARENT_SCOPE)
	endforeach()
endfunction()

harden(-fstack-protector-strong "-f(no-)?stack-protector[-a-z]*")
harden(-fstack-clash-protection "-f(no-)?stack-clash-protection")
# Refused by the toolchain where there is no CET, i.e. off x86.
harden(-fcf-protection "-fcf-protection(=[a-z]+)?")
harden(-Wl,-z,relro "-Wl,([^ ]*,)?-z,?relro|${refuse_relro}")
harden(-Wl,-z,now "-Wl,([^ ]*,)?-z,?now|${refuse_now}")
foreach(flag IN LISTS added)
	if(flag MATCHES "^-Wl,")
		list(APPEND FIRSTSHELL_HARDEN_LINK ${flag})
	else()
		target_compile_options(firstshell_build INTERFACE ${flag})
	endif()
endforeach()
target_link_options(firstshell_build INTERFACE ${FIRSTSHELL_HARDEN_LINK})

# glibc's fortified calls (musl has none) need optimisation, and warn
# without it: only in the configurations whose flags optimise.
if(given MATCHES " ([^ ]*_FORTIFY_SOURCE[^ ]*) ")
	list(APPEND kept ${CMAKE_MATCH_1})
elseif(FIRSTSHELL_LIBC STREQUAL "glibc")
	set(optimised "")
	foreach(config IN LISTS configs)
		string(TOUPPER "${config}" upper)
		string(REGEX MATCHALL "-O[^ ]*" levels
			" ${CMAKE_CXX_FLAGS} ${CMAKE_CXX_FLAGS_${upper}} ")
		if(levels)
			# The last -O given is the one that counts.
			list(GET levels -1 level)
			if(NOT level STREQUAL "-O0")
				string(APPEND optimised "$<CONFIG:${config}>,")
			endif()
		endif()
	endforeach()
	if(optimised)
		target_compile_definitions(firstshell_build INTERFACE
			$<$<OR:${optimised}0>:_FORTIFY_SOURCE=2>)
		list(APPEND added -D_FORTIFY_SOURCE=2)
	endif()
endif()

# A PIE, unless the flags make or refuse one themselves.
if(given MATCHES " (-f(PIE|pie)|${refuse_pie}) ")
	list(APPEND kept ${CMAKE_MATCH_1})
else()
	set(FIRSTSHELL_PIE ON)
	list(APPEND added PIE)
endif()

foreach(list added kept lacking)
	list(JOIN ${list} " " ${list})
endforeach()
message(STATUS "firstshell: hardening: added ${added}; kept ${kept}; lacking ${lacking}")
