# SPDX-License-Identifier: ISC
#
# Makes the release, at the top of a git checkout:
#
#   cmake -P cmake/release.cmake
#
# Into release/, made anew: the source tarball, made by git from the last
# commit; the .deb and the .rpm linked against the system's C library, and
# the standalone tarballs for x86_64 and each processor of processors.cmake,
# each built from that source tarball and packaged only after its whole
# suite has run and passed (under its emulator, cross-built); BUILDINFO, the
# record of what built them; SHA256SUMS over them all; and, given a key
# (FIRSTSHELL_SIGNING_KEY, as -D or in the environment, a key gpg knows),
# detached signatures of the source tarball and of SHA256SUMS. Nothing is
# written to release/ unless check-release.sh passes what was made, in
# build-release/. SOURCE_DATE_EPOCH is honoured, and taken from the last
# commit when not set: the same commit makes the same bytes wherever the
# same packages build it.
#
#   cmake -DFIRSTSHELL_REBUILD=FOLDER -P cmake/release.cmake
#
# rebuilds the release in FOLDER from its source tarball and BUILDINFO, in
# any source tree (the unpacked tarball will do), and compares every file
# with FOLDER's SHA256SUMS; it stops first, naming them, if this system's
# packages are not those BUILDINFO records.

cmake_minimum_required(VERSION 3.25)
get_filename_component(top ${CMAKE_CURRENT_LIST_DIR} DIRECTORY)
set(work ${top}/build-release)
set(out ${top}/release)
if(FIRSTSHELL_REBUILD)
	get_filename_component(given ${FIRSTSHELL_REBUILD} ABSOLUTE)
	set(out ${work}/rebuilt)
endif()
if(NOT DEFINED FIRSTSHELL_SIGNING_KEY)
	set(FIRSTSHELL_SIGNING_KEY "$ENV{FIRSTSHELL_SIGNING_KEY}")
endif()
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
set(tools gzip c++:g++ readelf:binutils rpmbuild:rpm rpm2cpio:rpm
	dpkg-shlibdeps:dpkg-dev unshare:util-linux cpio lintian rpmlint)
if(NOT FIRSTSHELL_REBUILD)
	list(APPEND tools git)
endif()
if(FIRSTSHELL_SIGNING_KEY)
	list(APPEND tools gpg)
endif()
foreach(tool IN LISTS tools)
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

# The installed packages that shaping.list names, as "name (= version)".
function(shaping var)
	file(STRINGS ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/shaping.list patterns
		REGEX "^[^#]")
	execute_process(COMMAND dpkg-query -W
		"--showformat=\${db:Status-Abbrev}\${binary:Package} (= \${Version})\n"
		${patterns} OUTPUT_VARIABLE rows ERROR_QUIET)
	string(REGEX MATCHALL "ii [^\n]*" rows "${rows}")
	list(TRANSFORM rows REPLACE "^ii " "")
	list(SORT rows)
	set(${var} "${rows}" PARENT_SCOPE)
endfunction()
shaping(packages)

if(FIRSTSHELL_REBUILD)
	# The commit, the date and the packages, as the release records them.
	file(READ ${given}/BUILDINFO record)
	string(REGEX MATCH "\nCommit: ([^\n]*)" _ "${record}")
	set(commit ${CMAKE_MATCH_1})
	string(REGEX MATCH "\nSource-Date-Epoch: ([^\n]*)" _ "${record}")
	set(ENV{SOURCE_DATE_EPOCH} ${CMAKE_MATCH_1})
	string(REGEX MATCH "\nInstalled-Build-Depends:\n(( [^\n]*\n)*)" _
		"${record}")
	string(REGEX REPLACE "(^ |,?\n ?)" ";" recorded "${CMAKE_MATCH_1}")
	list(REMOVE_ITEM recorded "")
	set(differ ${recorded} ${packages})
	list(REMOVE_ITEM differ ${packages})
	set(missing ${packages})
	list(REMOVE_ITEM missing ${recorded})
	if(differ OR missing)
		string(REPLACE ";" "\n  " differ "${differ}")
		string(REPLACE ";" "\n  " missing "${missing}")
		message(FATAL_ERROR "firstshell rebuild: this system's packages "
			"are not those that made the release.\nRecorded, not "
			"here:\n  ${differ}\nHere, not recorded:\n  ${missing}")
	endif()
	list(LENGTH recorded count)
	message(STATUS "firstshell rebuild: the ${count} packages are those "
		"the release records")
else()
	git(status status --porcelain)
	if(status)
		message(WARNING "firstshell release: uncommitted changes are "
			"left out; the release is made from the last "
			"commit:\n${status}")
	endif()
	git(commit rev-parse HEAD)
	if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
		git(epoch log -1 --format=%ct)
		set(ENV{SOURCE_DATE_EPOCH} ${epoch})
	endif()
endif()

# The source tarball, and the tree it unpacks to, that the packages are
# built from.
set(name firstshell-${version})
file(MAKE_DIRECTORY ${work}/release)
message(STATUS "firstshell release: ${name}.tar.gz")
if(FIRSTSHELL_REBUILD)
	file(COPY ${given}/${name}.tar.gz DESTINATION ${work}/release)
else()
	# The modes are set, not taken from the user's git configuration.
	execute_process(COMMAND git -C ${top} -c tar.umask=0022 archive
			--format=tar --prefix=${name}/ HEAD
		COMMAND gzip -9n OUTPUT_FILE ${work}/release/${name}.tar.gz
		COMMAND_ERROR_IS_FATAL ANY)
endif()
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

# The record of what built it, in deb822 form, as Debian's .buildinfo:
# nothing that differs between two machines with the same packages.
file(STRINGS /etc/os-release system REGEX "^PRETTY_NAME=")
string(REGEX REPLACE "^PRETTY_NAME=\"?([^\"]*)\"?$" "\\1" system "${system}")
execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE machine
	OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
list(JOIN packages ",\n " depends)
file(WRITE ${work}/release/BUILDINFO "\
Format: 1.0
Source: firstshell
Version: ${version}
Commit: ${commit}
Source-Date-Epoch: $ENV{SOURCE_DATE_EPOCH}
Build-Origin: ${system}
Build-Architecture: ${machine}
Installed-Build-Depends:
 ${depends}
")

file(GLOB files RELATIVE ${work}/release ${work}/release/*)
list(SORT files)
set(sums "")
foreach(file IN LISTS files)
	file(SHA256 ${work}/release/${file} sum)
	string(APPEND sums "${sum}  ${file}\n")
endforeach()
file(WRITE ${work}/release/SHA256SUMS "${sums}")

message(STATUS "firstshell release: checking what was made")
execute_process(COMMAND sh ${top}/cmake/check-release.sh ${top}
		${work}/release
	OUTPUT_VARIABLE log ERROR_VARIABLE log RESULT_VARIABLE failed)
file(WRITE ${work}/check-release.log "${log}")
if(failed)
	message(FATAL_ERROR "firstshell release: the checks failed; nothing "
		"is released. See ${work}/check-release.log:\n${log}")
endif()
string(REGEX MATCHALL "check-release: [^\n]*" said "${log}")
list(JOIN said "\n" said)
message(STATUS "${said}")

if(FIRSTSHELL_SIGNING_KEY)
	foreach(file ${name}.tar.gz SHA256SUMS)
		execute_process(COMMAND gpg --batch --yes --armor --detach-sign
				--local-user ${FIRSTSHELL_SIGNING_KEY}
				--output ${work}/release/${file}.asc
				${work}/release/${file}
			COMMAND_ERROR_IS_FATAL ANY)
	endforeach()
	message(STATUS "firstshell release: signed with "
		"${FIRSTSHELL_SIGNING_KEY}")
else()
	message(STATUS "firstshell release: unsigned: "
		"FIRSTSHELL_SIGNING_KEY names no key")
endif()

file(RENAME ${work}/release ${out})
if(FIRSTSHELL_REBUILD)
	file(READ ${given}/SHA256SUMS published)
	if(NOT published STREQUAL sums)
		message(FATAL_ERROR "firstshell rebuild: the files differ from "
			"${given}/SHA256SUMS.\nPublished:\n${published}"
			"Rebuilt, in ${out}:\n${sums}")
	endif()
	message(STATUS "firstshell rebuild: every file matches ${given}/SHA256SUMS")
else()
	message(STATUS "firstshell release: made in ${out}:\n${sums}")
endif()
