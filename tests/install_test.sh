#!/bin/sh
# Installs the build into a scratch prefix and checks that the program, its manual page,
# its documents (the README also as plain text) and its bash completion land where users
# look for them; that the program runs and is stripped exactly when the build type is
# Release; and that the installed completion offers the options and the .wmv/.asf/.vc1 files.
set -eu
build_dir=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build_dir" --prefix "$prefix" >/dev/null
test -x "$prefix/bin/tarvel"
"$prefix/bin/tarvel" --help >/dev/null 2>&1

man_page="$prefix/share/man/man1/tarvel.1.gz"
test -f "$man_page"
gzip -dc "$man_page" | grep -q '^.SH EXIT STATUS'
test -f "$prefix/share/doc/tarvel/copyright"
test -f "$prefix/share/doc/tarvel/changelog.gz"
# The README, and the plain-text readme.txt that the help names.
gzip -dc "$prefix/share/doc/tarvel/README.md.gz" | grep -q '^## Usage$'
gzip -dc "$prefix/share/doc/tarvel/readme.txt.gz" | grep -q '^Usage$'
# The schema of the --json document, which the manual page names.
gzip -dc "$prefix/share/doc/tarvel/tarvel-report.schema.json.gz" | grep -q '"\$schema"'

# Stripping leaves a smaller file; any other build type installs the built file as it is.
if grep -q '^CMAKE_BUILD_TYPE:[A-Z]*=Release$' "$build_dir/CMakeCache.txt"; then
  test "$(wc -c <"$prefix/bin/tarvel")" -lt "$(wc -c <"$build_dir/tarvel")"
else
  cmp -s "$prefix/bin/tarvel" "$build_dir/tarvel"
fi

completion="$prefix/share/bash-completion/completions/tarvel"
test -f "$completion"
mkdir "$prefix/files" "$prefix/files/folder"
touch "$prefix/files/a.wmv" "$prefix/files/b.VC1" "$prefix/files/c.txt" "$prefix/files/d.Asf"
cd "$prefix/files"
# Prints what completing the last word offers, one line.
complete_words() {
  bash -c '. "$0"; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _tarvel; echo "${COMPREPLY[*]}"' \
    "$completion" "$@"
}
test "$(complete_words tarvel --v)" = "--verbose=0 --verbose=1 --verbose=2 --verbose=3 --verbose --version"
test "$(complete_words tarvel --j)" = "--json"
test "$(complete_words tarvel -n)" = "-npar -nfrm -nseq"
test "$(complete_words tarvel a.wmv -)" = "-h --help -npar --no-par -nfrm --no-framerate -nseq \
--no-repeat-sequence-header -s --stream= -v0 -v1 -v2 -v3 --verbose=0 --verbose=1 --verbose=2 \
--verbose=3 --verbose -y --yes --version --timestamps= --timestamps --stream --json --plot= --plot --"
test "$(complete_words tarvel --st)" = "--stream= --stream"
# A value as the next argument; after "--" only names.
test "$(complete_words tarvel --verbose '')" = "0 1 2 3"
test "$(complete_words tarvel -s '')" = ""
test "$(complete_words tarvel --timestamps c)" = "c.txt"
test "$(complete_words tarvel -- -)" = ""
test "$(complete_words tarvel --stream = '')" = ""
test "$(complete_words tarvel --verbose =)" = "0 1 2 3"
# Files come in directory order.
test "$(complete_words tarvel -v1 '' | tr ' ' '\n' | sort | tr '\n' ' ')" = "a.wmv b.VC1 d.Asf folder "
# Any file takes the times, with "=" a word break or not.
test "$(complete_words tarvel --timestamps = '' | tr ' ' '\n' | sort | tr '\n' ' ')" = "a.wmv b.VC1 c.txt d.Asf folder "
test "$(complete_words tarvel --timestamps=c)" = "--timestamps=c.txt"
# And the picture, in either form.
test "$(complete_words tarvel --plot=c)" = "--plot=c.txt"
test "$(complete_words tarvel a.wmv --plot c)" = "c.txt"
echo "install layout ok"
