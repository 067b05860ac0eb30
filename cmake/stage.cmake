# SPDX-License-Identifier: ISC
#
# Run by cpack on each package's staged tree before it is packed: adds what
# the package carries beyond what cmake --install installs. gzip -n leaves
# the name and time out, so that the bytes depend on the sources alone.

set(top ${CPACK_TEMPORARY_INSTALL_DIRECTORY})
set(root ${top}${CPACK_PACKAGING_INSTALL_PREFIX})
set(src ${CPACK_FIRSTSHELL_SOURCE_DIR})
set(mode FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# Stripped as Debian's dh_strip does: of symbols, and of the compiler's notes.
execute_process(COMMAND ${CPACK_FIRSTSHELL_STRIP} --remove-section=.comment
	--remove-section=.note
	${root}/${CPACK_FIRSTSHELL_BINDIR}/${CPACK_PACKAGE_NAME}
	COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND gzip -9n ${root}/${CPACK_FIRSTSHELL_MANDIR}/man1/${CPACK_PACKAGE_NAME}.1
	COMMAND_ERROR_IS_FATAL ANY)

if(CPACK_GENERATOR STREQUAL "DEB")
	set(doc ${root}/${CPACK_FIRSTSHELL_DOCDIR})
	file(COPY ${CPACK_FIRSTSHELL_PACKAGE_DIR}/copyright DESTINATION ${doc}
		${mode})
	execute_process(COMMAND gzip -9n OUTPUT_FILE ${doc}/changelog.gz
		INPUT_FILE ${src}/CHANGELOG COMMAND_ERROR_IS_FATAL ANY)
elseif(CPACK_GENERATOR STREQUAL "RPM")
	file(COPY ${src}/LICENSE DESTINATION
		${root}/${CPACK_FIRSTSHELL_DATAROOTDIR}/licenses/${CPACK_PACKAGE_NAME}
		${mode})
else()
	# With the licence of the C library the binary carries, if not the
	# system's.
	file(GLOB libc ${CPACK_FIRSTSHELL_PACKAGE_DIR}/LICENSE.*)
	file(COPY ${src}/README.md ${src}/LICENSE ${libc} DESTINATION ${top}
		${mode})
endif()
