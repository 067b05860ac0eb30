#!/bin/sh
# SPDX-License-Identifier: ISC
#
# usage: needed.sh PROGRAM LINK
#
# Checks that PROGRAM, linked as LINK says (static-pie, static or dynamic),
# loads no library but the C library at run time: none at all, and no
# program interpreter, when static. Exit status 77: readelf is not here.

set -u
prog=$1
link=$2

if ! command -v readelf >/dev/null; then
	echo "skipped: no readelf to read the dynamic section" >&2
	exit 77
fi
fail() {
	echo "FAIL: $*" >&2
	exit 1
}

headers=$(readelf -l -d "$prog") || fail "readelf cannot read $prog"
needed=$(printf '%s\n' "$headers" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')

case $link in
static*)
	[ -z "$needed" ] || fail "linked $link, yet needs" $needed
	case $headers in
	*INTERP*) fail "linked $link, yet asks for a program interpreter" ;;
	esac
	;;
dynamic)
	[ -n "$needed" ] || fail "linked dynamically, yet needs nothing"
	case $headers in
	*INTERP*) ;;
	*) fail "linked dynamically, yet has no program interpreter" ;;
	esac
	for lib in $needed; do
		case $lib in
		libc.so* | libc.musl* | ld-linux*) ;;
		*) fail "needs $lib, not only the C library" ;;
		esac
	done
	;;
*)
	fail "no such link mode: $link"
	;;
esac
