#!/bin/sh
# SPDX-License-Identifier: ISC
# usage: sh dist/lint.sh FILE...: each .deb through lintian, each .rpm or .spec through rpmlint
# with rpmlint.toml beside this script, which passes findings with reasons; fails on any other.
for file; do
	case $file in
	*.deb) lintian --fail-on error,warning,info --display-info "$file" ;;
	*) rpmlint --strict -c "$(dirname "$0")/rpmlint.toml" "$file" ;;
	esac || exit
done
