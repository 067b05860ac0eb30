#!/bin/sh
# SPDX-License-Identifier: ISC
#
# usage: hardened.sh BINARY static|dynamic
#
# Checks that BINARY is a PIE with full RELRO and immediate binding and,
# static, that it loads nothing: no program interpreter, no library.

set -u
headers=$(readelf -h -l -d "$1") || exit 1
fail() {
	echo "hardened: $1 $2" >&2
	exit 1
}
case $headers in *'Type:'*DYN*) ;; *) fail "$1" "is not a PIE" ;; esac
case $headers in *GNU_RELRO*) ;; *) fail "$1" "has no RELRO" ;; esac
case $headers in *BIND_NOW*) ;; *) fail "$1" "does not bind at once" ;; esac
if [ "$2" = static ]; then
	case $headers in *INTERP* | *NEEDED*) fail "$1" "is not static" ;; esac
fi
exit 0
