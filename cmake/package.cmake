# SPDX-License-Identifier: ISC
#
# Packages, made by cpack: from a build dynamically linked against the
# system's C library, a .deb where dpkg-shlibdeps is, an .rpm where rpmbuild
# is; from a static musl build, the standalone tarball. Each carries the
# program, stripped, its manual, compressed, and what its format asks for:
# install components that a plain cmake --install leaves out.

# The maintainer, who signs the packages' changelog. Without one, the
# packages are for the user's own use, and cpack says whom they name.
set(FIRSTSHELL_MAINTAINER "" CACHE STRING "The packages' maintainer: Name <address>")
set(contact "${FIRSTSHELL_MAINTAINER}")
set(unnamed "")
if(NOT contact)
	set(user "$ENV{USER}")
	if(NOT user)
		set(user nobody)
	endif()
	set(contact "${user} <${user}@localhost>")
	set(unnamed "message(STATUS \"firstshell: FIRSTSHELL_MAINTAINER names no \
maintainer: these packages name '${contact}'\")")
endif()
# rpm expands macros in its spec, so % is written %% (and \ \\ in a macro);
# CPack writes what it is given into a CMake file of its own as it stands, so
# \, " and $ are escaped there.
string(REPLACE "%" "%%" rpm_contact "${contact}")
string(REPLACE "\\" "\\\\" packager "${rpm_contact}")
string(REGEX REPLACE "([\\\"$])" "\\\\\\1" CPACK_PACKAGE_CONTACT "${contact}")
string(REGEX REPLACE "([\\\"$])" "\\\\\\1" packager "${packager}")

set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION "\
firstshell prints the first absolute path in the system's list of valid user
shells, as the C library's getusershell(3) reads it, and a newline. It takes
no options and reads no input; when the list has no absolute path or the line
cannot be written, it says so on standard error and exits 1.")
set(CPACK_PACKAGE_VENDOR "the firstshell authors")

# Stripped by cpack (or cmake --install --strip) as by Debian's dh_strip:
# of its symbols, and of the compiler's notes.
set(CPACK_STRIP_FILES ON)
if(NOT APPLE)
	install(CODE "
	set(program \$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/firstshell)
	if(CMAKE_INSTALL_DO_STRIP)
		execute_process(COMMAND ${CMAKE_STRIP} -R .comment -R .note
			\${program} RESULT_VARIABLE failed)
		if(failed)
			message(FATAL_ERROR \"firstshell: cannot strip \${program}\")
		endif()
	endif()" COMPONENT program)
endif()

# What is made here from LICENSE, CHANGELOG and the manual is made again
# when they change; gzip -n leaves the name and time out.
set(pkg ${PROJECT_BINARY_DIR}/package)
set(src ${PROJECT_SOURCE_DIR})
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
	${src}/LICENSE ${src}/doc/firstshell.1)
file(MAKE_DIRECTORY ${pkg})
execute_process(COMMAND gzip -9n INPUT_FILE ${src}/doc/firstshell.1
	OUTPUT_FILE ${pkg}/firstshell.1.gz)
install(FILES ${pkg}/firstshell.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
	COMPONENT packaged EXCLUDE_FROM_ALL)

# Debian's machine-readable copyright file, from LICENSE.
file(READ ${src}/LICENSE license)
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

# CHANGELOG's entries as Debian's changelog and rpm's, signed by the
# maintainer.
set(CPACK_RPM_PACKAGE_RELEASE 1)
file(STRINGS ${src}/CHANGELOG lines)
set(debian "")
set(rpm "")
set(items "")
macro(entry)
	if(items)
		string(APPEND debian "${PROJECT_NAME} (${version}) unstable; "
			"urgency=medium\n\n${items}\n -- ${contact}  "
			"${date}\n\n")
		string(REGEX REPLACE "(^|\n)  \\* " "\\1- " items "${items}")
		string(REPLACE "\n    " "\n  " items "${items}")
		string(APPEND rpm "* ${rpmdate} ${rpm_contact} - "
			"${version}-${CPACK_RPM_PACKAGE_RELEASE}\n${items}\n")
		set(items "")
	endif()
endmacro()
set(header "^firstshell ([^ ]+) -- (((...), ([0-9]+) (...) ([0-9]+)).*)")
foreach(line IN LISTS lines)
	if(line MATCHES "${header}")
		entry()
		set(version ${CMAKE_MATCH_1})
		set(date "${CMAKE_MATCH_2}")
		set(rpmdate "${CMAKE_MATCH_4} ${CMAKE_MATCH_6} ${CMAKE_MATCH_5} ${CMAKE_MATCH_7}")
	elseif(line MATCHES "^  ")
		string(APPEND items "${line}\n")
	endif()
endforeach()
entry()
string(STRIP "${debian}" debian)
file(WRITE ${pkg}/changelog "${debian}\n")
file(WRITE ${pkg}/rpm-changelog "${rpm}")
execute_process(COMMAND gzip -9n INPUT_FILE ${pkg}/changelog
	OUTPUT_FILE ${pkg}/changelog.gz)

install(FILES ${pkg}/copyright ${pkg}/changelog.gz
	DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT deb EXCLUDE_FROM_ALL)
install(FILES ${src}/LICENSE
	DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/licenses/${PROJECT_NAME}
	COMPONENT rpm EXCLUDE_FROM_ALL)

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
set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION
	/usr/${CMAKE_INSTALL_MANDIR} /usr/${CMAKE_INSTALL_MANDIR}/man1
	/usr/${CMAKE_INSTALL_DATAROOTDIR}/licenses)
# The same sources make the same bytes: no build time or host of the machine's.
set(CPACK_RPM_SPEC_MORE_DEFINE "\
%define packager ${packager}
%define _buildhost reproducible
%define use_source_date_epoch_as_buildtime 1
%define clamp_mtime_to_source_date_epoch 1")

# One package a generator: the program, the manual and the generator's own.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_RPM_COMPONENT_INSTALL ON)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_PROJECT_CONFIG_FILE ${pkg}/generator.cmake)
file(WRITE ${CPACK_PROJECT_CONFIG_FILE} "\
string(TOLOWER \"\${CPACK_GENERATOR}\" generator)
set(CPACK_COMPONENTS_ALL program packaged \${generator})
if(generator STREQUAL \"tgz\")
	set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
endif()
${unnamed}
")

if(FIRSTSHELL_LINK STREQUAL "dynamic")
	find_program(FIRSTSHELL_DPKG_SHLIBDEPS dpkg-shlibdeps)
	find_program(FIRSTSHELL_RPMBUILD rpmbuild)
	if(FIRSTSHELL_DPKG_SHLIBDEPS)
		list(APPEND CPACK_GENERATOR DEB)
	endif()
	if(FIRSTSHELL_RPMBUILD)
		list(APPEND CPACK_GENERATOR RPM)
	endif()
elseif(FIRSTSHELL_LIBC STREQUAL "musl")
	set(CPACK_GENERATOR TGZ)
	string(TOLOWER "${CMAKE_SYSTEM_NAME}" system)
	set(CPACK_PACKAGE_FILE_NAME
		${PROJECT_NAME}-${PROJECT_VERSION}-${system}-${CMAKE_SYSTEM_PROCESSOR})
	# The binary carries musl, whose licence asks for its notice.
	find_file(FIRSTSHELL_MUSL_LICENSE NAMES copyright COPYRIGHT
		PATHS /usr/share/doc/musl /usr/share/licenses/musl
		NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
	if(NOT FIRSTSHELL_MUSL_LICENSE)
		message(FATAL_ERROR "firstshell: musl's licence notice not "
			"found; set FIRSTSHELL_MUSL_LICENSE to musl's COPYRIGHT")
	endif()
	install(FILES ${src}/README.md ${src}/LICENSE DESTINATION .
		COMPONENT tgz EXCLUDE_FROM_ALL)
	install(FILES ${FIRSTSHELL_MUSL_LICENSE} DESTINATION .
		RENAME LICENSE.musl COMPONENT tgz EXCLUDE_FROM_ALL)
endif()
if(NOT CPACK_GENERATOR)
	set(CPACK_GENERATOR TGZ)
	file(APPEND ${CPACK_PROJECT_CONFIG_FILE} "message(FATAL_ERROR \
\"firstshell: cpack packs a dynamic build, where dpkg-shlibdeps or rpmbuild \
is, or a static build against musl: a static glibc binary carries glibc, \
whose LGPL asks that users can relink it\")\n")
endif()
include(CPack)
