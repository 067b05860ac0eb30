# SPDX-License-Identifier: ISC
#
# Makes the release, at the top of the source tree:
#
#   cmake -P cmake/release.cmake
#
# Into release/, made anew: the source tarball, made by git from the last
# commit; the .deb and the .rpm linked against the system's C library, and
# the standalone tarballs for x86_64 and each processor of processors.cmake,
# each built from that source tarball and packaged only after its whole
# suite has run and passed (under its emulator, cross-built); and
# SHA256SUMS over them all. Everything is made in build-release/ first, so a
# release that stops half-way leaves no release/ behind. SOURCE_DATE_EPOCH is
# honoured, and taken from the last commit when not set: the same commit
# makes the same bytes wherever it is built.

cmake_minimum_required(VERSION 3.25)
get_filename_component(top ${CMAKE_CURRENT_LIST_DIR} DIRECTORY)
set(work ${top}/build-release)
set(out ${top}/release)
file(REMOVE_RECURSE ${out} ${work})

# All that the builds and their tests need, checked before anything is made.
# need(PROGRAM|FILE WHAT DEBIAN-PACKAGES...)
function(need kind what)
	if(kind STREQUAL PROGRAM)
		find_program(found ${what} NO_CACHE)
	elseif(EXISTS ${what})
		set(found ${what})
	endif()
	if(NOT found)
		string(REPLACE ";" " " pkgs "${ARGN}")
		message(FATAL_ERROR "firstshell release: ${what} not found; "
			"on Debian: apt-get install ${pkgs}")
	endif()
endfunction()
foreach(tool git gzip c++:g++ readelf:binutils rpmbuild:rpm
	dpkg-shlibdeps:dpkg-dev
	unshare:util-linux)
	string(REPLACE ":" ";" tool ${tool})
	list(GET tool 0 program)
	list(GET tool -1 package)
	need(PROGRAM ${program} ${package})
endforeach()
cmake_host_system_information(RESULT arch QUERY OS_PLATFORM)
need(FILE /usr/lib/${arch}-linux-musl/musl-gcc.specs musl-dev)
# Every processor of the table, cross-built and tested under its emulator.
include(${CMAKE_CURRENT_LIST_DIR}/processors.cmake)
set(archs "")
foreach(row IN LISTS FIRSTSHELL_PROCESSORS)
	string(REGEX MATCH "^[^ ]+" cross "${row}")
	list(APPEND archs ${cross})
	firstshell_processor(${cross})
	need(PROGRAM ${firstshell_triplet}-g++ g++-${firstshell_triplet})
	need(PROGRAM ${firstshell_emulator} qemu-user)
	need(FILE /usr/lib/${firstshell_musl}/musl-gcc.specs musl-dev:${cross}
		"after dpkg --add-architecture ${cross} and apt-get update")
endforeach()

# The version is project()'s; the newest CHANGELOG entry must be for it.
file(READ ${top}/CMakeLists.txt lists)
if(NOT lists MATCHES "project\\(firstshell[^)]*VERSION[ \t\n]+([0-9.]+)")
	message(FATAL_ERROR "firstshell release: "
		"no version in CMakeLists.txt's project()")
endif()
set(version ${CMAKE_MATCH_1})
file(STRINGS ${top}/CHANGELOG newest LIMIT_COUNT 1)
string(REGEX MATCH "^[^ ]+ \\(([^)]*)\\)" newest "${newest}")
if(NOT CMAKE_MATCH_1 STREQUAL version)
	message(FATAL_ERROR "firstshell release: CHANGELOG's newest entry "
		"is for '${CMAKE_MATCH_1}', not for project()'s ${version}")
endif()

function(git var)
	execute_process(COMMAND git -C ${top} ${ARGN} OUTPUT_VARIABLE output
		OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
	set(${var} "${output}" PARENT_SCOPE)
endfunction()
git(status status --porcelain)
if(status)
	message(WARNING "firstshell release: uncommitted changes are left "
		"out; the release is made from the last commit:\n${status}")
endif()
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
	git(epoch log -1 --format=%ct)
	set(ENV{SOURCE_DATE_EPOCH} ${epoch})
endif()

# The source tarball, and the tree it unpacks to, that the packages are
# built from.
set(name firstshell-${version})
file(MAKE_DIRECTORY ${work}/release)
message(STATUS "firstshell release: ${name}.tar.gz")
# The modes are set, not taken from the user's git configuration.
execute_process(COMMAND git -C ${top} -c tar.umask=0022 archive --format=tar
		--prefix=${name}/ HEAD
	COMMAND gzip -9n OUTPUT_FILE ${work}/release/${name}.tar.gz
	COMMAND_ERROR_IS_FATAL ANY)
file(ARCHIVE_EXTRACT INPUT ${work}/release/${name}.tar.gz DESTINATION ${work})

set(builds packages standalone)
foreach(cross IN LISTS archs)
	list(APPEND builds standalone-cross:${cross})
endforeach()
foreach(build IN LISTS builds)
	string(REPLACE ":" ";" build ${build})
	list(GET build 0 preset)
	list(GET build -1 dir)
	set(ENV{FIRSTSHELL_ARCH} ${dir})
	if(preset STREQUAL standalone-cross)
		set(dir standalone-${dir})
	endif()
	message(STATUS "firstshell release: workflow ${preset} (${dir})")
	execute_process(COMMAND ${CMAKE_COMMAND} --workflow --preset ${preset}
		WORKING_DIRECTORY ${work}/${name}
		OUTPUT_VARIABLE log ERROR_VARIABLE log RESULT_VARIABLE failed)
	file(WRITE ${work}/${dir}.log "${log}")
	# ctest counts a skipped case as no failure.
	if(failed OR log MATCHES "tests did not run")
		message(FATAL_ERROR "firstshell release: workflow ${preset} "
			"failed or skipped cases; see ${work}/${dir}.log:\n"
			"${log}")
	endif()
	file(GLOB made ${work}/${name}/build-${dir}/*.deb
		${work}/${name}/build-${dir}/*.rpm
		${work}/${name}/build-${dir}/*.tar.gz)
	file(COPY ${made} DESTINATION ${work}/release)
endforeach()

file(GLOB files RELATIVE ${work}/release ${work}/release/*)
list(SORT files)
set(sums "")
foreach(file IN LISTS files)
	file(SHA256 ${work}/release/${file} sum)
	string(APPEND sums "${sum}  ${file}\n")
endforeach()
file(WRITE ${work}/release/SHA256SUMS "${sums}")
file(RENAME ${work}/release ${out})
message(STATUS "firstshell release: made in ${out}:\n${sums}")
