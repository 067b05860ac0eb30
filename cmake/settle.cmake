# SPDX-License-Identifier: ISC
#
# Run by cpack after it has made each package: packs it again so that its
# bytes follow from what it holds alone, and not from the file system it was
# staged on, whose order of a folder's entries and size of a folder cpack
# takes as they come. A tarball's entries are sorted by name, owned by root,
# dated SOURCE_DATE_EPOCH; a .deb is built again by dpkg-deb, which does the
# same, with its Installed-Size counted as dpkg-gencontrol counts it: each
# file's size in KiB, rounded up, and 1 for each folder and link.

set(work ${CPACK_TOPLEVEL_DIRECTORY}/settle)
foreach(package IN LISTS CPACK_PACKAGE_FILES)
	file(REMOVE_RECURSE ${work})
	file(MAKE_DIRECTORY ${work})
	if(package MATCHES "\\.deb$")
		execute_process(COMMAND dpkg-deb --raw-extract ${package}
			${work}/root COMMAND_ERROR_IS_FATAL ANY)
		file(GLOB_RECURSE entries LIST_DIRECTORIES true
			RELATIVE ${work}/root ${work}/root/*)
		set(size 0)
		foreach(entry IN LISTS entries)
			if(entry MATCHES "^DEBIAN(/|$)")
			elseif(IS_SYMLINK ${work}/root/${entry} OR
				IS_DIRECTORY ${work}/root/${entry})
				math(EXPR size "${size} + 1")
			else()
				file(SIZE ${work}/root/${entry} bytes)
				math(EXPR size "${size} + (${bytes} + 1023) / 1024")
			endif()
		endforeach()
		file(READ ${work}/root/DEBIAN/control control)
		string(REGEX REPLACE "\nInstalled-Size: [0-9]+\n"
			"\nInstalled-Size: ${size}\n" control "${control}")
		file(WRITE ${work}/root/DEBIAN/control "${control}")
		execute_process(COMMAND dpkg-deb --root-owner-group -Zgzip -z9
				--build ${work}/root ${package}
			OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
	elseif(package MATCHES "\\.tar\\.gz$")
		execute_process(COMMAND tar -xzf ${package}
			WORKING_DIRECTORY ${work} COMMAND_ERROR_IS_FATAL ANY)
		file(GLOB top RELATIVE ${work} ${work}/*)
		set(date "")
		if(DEFINED ENV{SOURCE_DATE_EPOCH})
			set(date --mtime=@$ENV{SOURCE_DATE_EPOCH})
		endif()
		execute_process(COMMAND tar --sort=name --owner=0 --group=0
				--numeric-owner ${date} --format=gnu -cf - ${top}
			COMMAND gzip -9n OUTPUT_FILE ${package}
			WORKING_DIRECTORY ${work} COMMAND_ERROR_IS_FATAL ANY)
	endif()
endforeach()
file(REMOVE_RECURSE ${work})
