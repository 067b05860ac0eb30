# SPDX-License-Identifier: ISC
#
# The hardening a distribution builds every binary with, put on the
# firstshell_build target: stack protector, stack clash protection, CET on
# x86, fortified C library calls, and full RELRO with immediate binding.
# Each flag is probed, so a toolchain that lacks one still builds. Sets
# FIRSTSHELL_HARDEN_LINK to the link options, for link.cmake's probe; the PIE
# is link.cmake's business, as it depends on the link mode.

option(FIRSTSHELL_HARDEN
	"Harden the binary (off for a distribution that supplies its own flags)"
	ON)
set(FIRSTSHELL_HARDEN_LINK "")
if(NOT FIRSTSHELL_HARDEN OR NOT CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
	return()
endif()

include(CheckCXXCompilerFlag)
include(CheckCXXSourceCompiles)
# Probe with the flags of the build type in use, not try_compile's Debug.
set(CMAKE_TRY_COMPILE_CONFIGURATION ${CMAKE_BUILD_TYPE})

# -fcf-protection is refused where there is no CET, i.e. off x86.
foreach(flag -fstack-protector-strong -fstack-clash-protection -fcf-protection)
	string(MAKE_C_IDENTIFIER "FIRSTSHELL_HAS${flag}" var)
	check_cxx_compiler_flag(${flag} ${var})
	if(${var})
		target_compile_options(firstshell_build INTERFACE ${flag})
	endif()
endforeach()

# Only where the flags given leave _FORTIFY_SOURCE undefined (Debian's
# CPPFLAGS and Ubuntu's compiler define it, and a second definition warns),
# and where it draws no warning (older glibc's, in a build that does not
# optimise).
string(MAKE_C_IDENTIFIER "FIRSTSHELL_FORTIFIES_${CMAKE_BUILD_TYPE}" var)
set(CMAKE_REQUIRED_FLAGS -Werror)
check_cxx_source_compiles("
#ifdef _FORTIFY_SOURCE
#error defined already
#endif
#define _FORTIFY_SOURCE 2
#include <stdio.h>
int main() { return 0; }" ${var})
unset(CMAKE_REQUIRED_FLAGS)
if(${var})
	target_compile_definitions(firstshell_build INTERFACE _FORTIFY_SOURCE=2)
endif()

# macOS's linker has no -z.
set(CMAKE_REQUIRED_LINK_OPTIONS -Wl,-z,relro -Wl,-z,now)
check_cxx_source_compiles("int main() { return 0; }" FIRSTSHELL_HAS_BIND_NOW)
if(FIRSTSHELL_HAS_BIND_NOW)
	set(FIRSTSHELL_HARDEN_LINK ${CMAKE_REQUIRED_LINK_OPTIONS})
	target_link_options(firstshell_build INTERFACE ${FIRSTSHELL_HARDEN_LINK})
endif()
unset(CMAKE_REQUIRED_LINK_OPTIONS)
