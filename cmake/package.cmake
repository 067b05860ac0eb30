# SPDX-License-Identifier: ISC
#
# Packages, made by cpack from a build. A build linked against the system's
# C library makes the system's packages: a .deb where dpkg-shlibdeps can name
# the C library it depends on, an .rpm where rpmbuild is. A static build makes
# the standalone tarball, named for the system and processor it runs on.

# CPACK_PRE_BUILD_SCRIPTS, which strips the binary and adds the rest, and
# CPACK_POST_BUILD_SCRIPTS, which makes the bytes independent of the file
# system, came with 3.19: with an older cmake, cpack stops rather than make a
# package without them.
if(CMAKE_VERSION VERSION_LESS 3.19)
	file(WRITE ${PROJECT_BINARY_DIR}/CPackConfig.cmake
		"message(FATAL_ERROR \"firstshell: packaging needs CMake 3.19 "
		"or later; this is ${CMAKE_VERSION}\")\n")
	return()
endif()

set(FIRSTSHELL_MAINTAINER
	"Set FIRSTSHELL_MAINTAINER <nobody@invalid>"
	CACHE STRING "The packages' maintainer, as: Name <address>")

set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION "\
firstshell prints the first entry of the system's list of valid user shells,
as the C library's getusershell(3) returns it, followed by a newline. It takes
no options and reads no input; when the list has no absolute path or the line
cannot be written, it says so on standard error and exits 1.")
set(CPACK_PACKAGE_VENDOR "the firstshell authors")
set(CPACK_PACKAGE_CONTACT "${FIRSTSHELL_MAINTAINER}")

# What a package carries beyond what cmake --install installs is added to
# the staged tree by stage.cmake, from what is made here.
set(pkg ${PROJECT_BINARY_DIR}/package)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/stage.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/settle.cmake)
set(CPACK_FIRSTSHELL_SOURCE_DIR ${PROJECT_SOURCE_DIR})
set(CPACK_FIRSTSHELL_PACKAGE_DIR ${pkg})
set(CPACK_FIRSTSHELL_STRIP ${CMAKE_STRIP})
set(CPACK_FIRSTSHELL_BINDIR ${CMAKE_INSTALL_BINDIR})
set(CPACK_FIRSTSHELL_MANDIR ${CMAKE_INSTALL_MANDIR})
set(CPACK_FIRSTSHELL_DOCDIR ${CMAKE_INSTALL_DOCDIR})
set(CPACK_FIRSTSHELL_DATAROOTDIR ${CMAKE_INSTALL_DATAROOTDIR})

# What is made here from LICENSE and CHANGELOG is made again when they change.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
	${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/CHANGELOG)

# Debian's machine-readable copyright file, from LICENSE: its first line
# names the holders, and the rest is the text, indented, with "." for blank
# lines.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
if(NOT license MATCHES "^Copyright \\(c\\) ([^\n]*)\n\n(.*[^\n])\n*$")
	message(FATAL_ERROR "LICENSE does not begin with a Copyright line")
endif()
set(holders "${CMAKE_MATCH_1}")
string(REPLACE "\n\n" "\n.\n" text "${CMAKE_MATCH_2}")
string(REPLACE "\n" "\n " text "${text}")
file(WRITE ${pkg}/copyright "\
Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: ${PROJECT_NAME}

Files: *
Copyright: ${holders}
License: ISC
 ${text}
")

# rpm keeps its changelog in a format of its own: CHANGELOG's entries,
# newest first, each under a "* date maintainer - version-release" line.
set(CPACK_RPM_PACKAGE_RELEASE 1)
file(READ ${PROJECT_SOURCE_DIR}/CHANGELOG debian)
set(rpm "")
set(items "")
while(debian MATCHES "^([^\n]*)\n(.*)$")
	set(line "${CMAKE_MATCH_1}")
	set(debian "${CMAKE_MATCH_2}")
	if(line MATCHES "^[^ ]+ \\(([^)]+)\\)")
		set(version "${CMAKE_MATCH_1}")
	elseif(line MATCHES "^  \\* (.*)")
		string(APPEND items "- ${CMAKE_MATCH_1}\n")
	elseif(line MATCHES "^    (.*)")
		string(APPEND items "  ${CMAKE_MATCH_1}\n")
	elseif(line MATCHES "^ -- (.*>)  (...), ([0-9]+) (...) ([0-9]+) ")
		string(APPEND rpm "* ${CMAKE_MATCH_2} ${CMAKE_MATCH_4} "
			"${CMAKE_MATCH_3} ${CMAKE_MATCH_5} ${CMAKE_MATCH_1} - "
			"${version}-${CPACK_RPM_PACKAGE_RELEASE}\n${items}\n")
		set(items "")
	endif()
endwhile()
file(WRITE ${pkg}/rpm-changelog "${rpm}")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
set(CPACK_RPM_PACKAGE_LICENSE ISC)
set(CPACK_RPM_PACKAGE_GROUP "Applications/System")
set(CPACK_RPM_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_RPM_CHANGELOG_FILE ${pkg}/rpm-changelog)
set(CPACK_RPM_USER_FILELIST
	"%license /usr/${CMAKE_INSTALL_DATAROOTDIR}/licenses/${PROJECT_NAME}/LICENSE")
# The folders the system owns, not the package.
set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION
	/usr/${CMAKE_INSTALL_MANDIR} /usr/${CMAKE_INSTALL_MANDIR}/man1
	/usr/${CMAKE_INSTALL_DATAROOTDIR}/licenses)
# Build time and host from SOURCE_DATE_EPOCH and a fixed name, not from the
# machine, so that the same sources make the same bytes.
set(CPACK_RPM_SPEC_MORE_DEFINE "\
%define packager ${FIRSTSHELL_MAINTAINER}
%define _buildhost reproducible
%define use_source_date_epoch_as_buildtime 1
%define clamp_mtime_to_source_date_epoch 1")

if(NOT FIRSTSHELL_LINK STREQUAL "dynamic")
	set(CPACK_GENERATOR TGZ)
	string(TOLOWER "${CMAKE_SYSTEM_NAME}" system)
	set(CPACK_PACKAGE_FILE_NAME
		${PROJECT_NAME}-${PROJECT_VERSION}-${system}-${CMAKE_SYSTEM_PROCESSOR})
	if(FIRSTSHELL_MUSL_SPECS)
		# The binary carries musl, whose licence asks for its notice
		# in every copy.
		find_file(FIRSTSHELL_MUSL_LICENSE NAMES copyright COPYRIGHT
			PATHS /usr/share/doc/musl /usr/share/licenses/musl
			NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
		if(NOT FIRSTSHELL_MUSL_LICENSE)
			message(FATAL_ERROR "firstshell: musl's licence "
				"notice not found; set FIRSTSHELL_MUSL_LICENSE "
				"to musl's COPYRIGHT file")
		endif()
		configure_file(${FIRSTSHELL_MUSL_LICENSE} ${pkg}/LICENSE.musl
			COPYONLY)
	endif()
else()
	set(CPACK_GENERATOR "")
	find_program(FIRSTSHELL_DPKG_SHLIBDEPS dpkg-shlibdeps)
	find_program(FIRSTSHELL_RPMBUILD rpmbuild)
	if(FIRSTSHELL_DPKG_SHLIBDEPS)
		list(APPEND CPACK_GENERATOR DEB)
	endif()
	if(FIRSTSHELL_RPMBUILD)
		list(APPEND CPACK_GENERATOR RPM)
	endif()
	if(NOT CPACK_GENERATOR)
		set(CPACK_GENERATOR TGZ)
	endif()
endif()
include(CPack)
