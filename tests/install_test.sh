#!/bin/sh
# Installs the build into a scratch prefix and checks that the program and its manual
# page land where users look for them, and that the installed program runs.
set -eu
build_dir=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build_dir" --prefix "$prefix" >/dev/null
test -x "$prefix/bin/tarvel"
test -f "$prefix/share/man/man1/tarvel.1"
"$prefix/bin/tarvel" --help >/dev/null 2>&1
man -l "$prefix/share/man/man1/tarvel.1" 2>/dev/null | grep -q "EXIT STATUS" || grep -q '^.SH EXIT STATUS' "$prefix/share/man/man1/tarvel.1"
echo "install layout ok"
