#!/bin/sh
# SPDX-License-Identifier: ISC
#
# usage: lint.sh PACKAGE...
#
# Puts each .deb through lintian and each .rpm through rpmlint (with the
# settings in rpmlint.toml beside this script), prints every finding, and
# fails on any finding but those listed below, each left for its reason.

set -u
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT

# The findings that stay, as fixed strings, each under its reason.
grep -v '^#' >"$work/known" <<'EOF_KNOWN'
# The placeholder, until FIRSTSHELL_MAINTAINER names the packager.
: bogus-mail-host Maintainer nobody@invalid
# The project has no address of its own to sign CHANGELOG with.
: bogus-mail-host-in-debian-changelog firstshell@invalid
# Signing a package is the distributor's act, with its own key.
: no-signature
# firstshell has no home page to name.
: no-url-tag
# rpmlint 2.4 looks the manual up by its section, not by its name.
: no-manual-page-for-binary firstshell
# The C library function's name, not a word of English.
: spelling-error ('getusershell',
EOF_KNOWN

for pkg; do
	case $pkg in
	*.deb) lintian --fail-on none --display-info "$pkg" ;;
	*.rpm) rpmlint -c "$(dirname "$0")/rpmlint.toml" "$pkg" ;;
	*) echo "$pkg: not a .deb or an .rpm" && false ;;
	esac >"$work/out" 2>&1
	status=$?
	cat "$work/out"
	# rpmlint's 64 says it found errors; any other failure, that it or
	# lintian could not read the package.
	case $status in
	0 | 64) ;;
	*) echo "lint: $pkg: the linter failed ($status)" >&2 && exit 1 ;;
	esac
	grep -E '^([^ ]+: )?[EWIPX]: ' "$work/out" >>"$work/found"
done
if grep -v -F -f "$work/known" "$work/found" >"$work/new"; then
	sed 's/^/lint: /' "$work/new" >&2
	exit 1
fi
