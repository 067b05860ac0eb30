#!/bin/sh
# SPDX-License-Identifier: ISC
#
# usage: sh dist/lint.sh PACKAGE...
#
# Puts each .deb through lintian and each .rpm through rpmlint (with
# rpmlint.toml beside this script), prints every finding, and fails on any
# but those kept below, each beside its reason.

set -u
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
grep -v '^#' >"$work/kept" <<'EOF'
# Signing a package is the distributor's act, with its own key.
: no-signature
# firstshell has no home page to name.
: no-url-tag
# rpmlint 2.4 looks a binary's manual up by its section, not by its name.
: no-manual-page-for-binary firstshell
# The C library's function, named in the description: not a word of English.
: spelling-error ('getusershell',
EOF

: >"$work/found"
for pkg; do
	case $pkg in
	*.deb) lintian --fail-on none --display-info "$pkg" ;;
	*.rpm) rpmlint -c "$(dirname "$0")/rpmlint.toml" "$pkg" ;;
	*) echo "lint: $pkg: not a .deb or an .rpm" && false ;;
	esac >"$work/out" 2>&1
	status=$? # rpmlint's 64 and 66 say it found errors or too bad a score
	cat "$work/out"
	[ "$status" = 0 ] || [ "$status" = 64 ] || [ "$status" = 66 ] ||
		{ echo "lint: $pkg: the linter failed ($status)" >&2 && exit 1; }
	grep -E '^([^ ]+: )?[EWIPX]: ' "$work/out" >>"$work/found"
done
if grep -v -F -f "$work/kept" "$work/found" >"$work/new"; then
	sed 's/^/lint: no reason kept for: /' "$work/new" >&2
	exit 1
fi
