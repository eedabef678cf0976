#!/usr/bin/env bash
# Builds the documentation site into build/docs/html (or the folder given):
# Doxygen reads the public headers into XML, Sphinx (with Breathe for that
# XML, MyST for the Markdown guides and autodoc for the Python package) makes
# the HTML, warnings being errors. Then every function the library exports
# must appear in the reference: a new tav_ function without its page fails.
#   scripts/docs.sh [OUTPUT_DIR [LIBTAV]]
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
output=$(realpath -m "${1:-build/docs/html}")
library=$(realpath -m "${2:-build/libtav.so.1}")
# (From the build, TAV_DOCS_NO_INSTALL: the packages are the caller's.)
[ -n "${TAV_DOCS_NO_INSTALL:-}" ] ||
    scripts/install-deps.sh --only doxygen python3-sphinx python3-breathe python3-myst-parser mandoc

[ -f "$library" ] || { echo "docs: no $library: build the library first (scripts/demo.sh)"; exit 1; }

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/xml"
cp -r docs "$stage/src"
rm -rf "$stage/src/tools"
# The pages made from other sources: the C# binding and the man pages.
python3 docs/tools/csharp_reference.py bindings/dotnet/Tav.cs >"$stage/src/reference/csharp.md"
for page in tavctl.1 tav.3; do
    name=${page%.*}-${page##*.}
    {
        echo "# ${page%.*}(${page##*.})"
        echo
        echo '```text'
        MANWIDTH=100 mandoc -T utf8 "docs/$page" | col -bx
        echo '```'
    } >"$stage/src/reference/$name.md"
done
{
    echo "# Quick start"
    echo
    awk '/^## Quick start/ { on = 1; next } on && /^## / { exit } on' README.md |
        sed 's|(docs/guides/|(guides/|g; s|(examples/README.md)|(examples.md)|g'
} >"$stage/src/quickstart.md"
sed 's|^| |; s|^ ||' examples/README.md >"$stage/src/examples.md"

# The public headers, read by Doxygen into XML.
cat >"$stage/Doxyfile" <<DOXYFILE
PROJECT_NAME = tavlib
INPUT = $source_dir/include/tav/tav.h $source_dir/include/tav/board.hpp $source_dir/include/TAVLib.h
GENERATE_XML = YES
GENERATE_HTML = NO
GENERATE_LATEX = NO
XML_OUTPUT = $stage/xml
EXTRACT_ALL = YES
ENABLE_PREPROCESSING = YES
MACRO_EXPANSION = YES
EXPAND_ONLY_PREDEF = YES
PREDEFINED = TAV_C_API= TAVLIB_API= TAV_API=
TYPEDEF_HIDES_STRUCT = YES
FILTER_PATTERNS = *.h=$source_dir/docs/tools/doxygen_filter.sh *.hpp=$source_dir/docs/tools/doxygen_filter.sh
WARN_IF_UNDOCUMENTED = NO
QUIET = YES
DOXYFILE
(cd "$stage" && doxygen Doxyfile)

rm -rf "$output"
TAV_SOURCE_DIR=$source_dir TAV_DOXYGEN_XML=$stage/xml TAV_LIBRARY=$library \
    TAV_VERSION=$(sed -n 's/^project(tavlib VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt) \
    /usr/bin/python3 -m sphinx -W --keep-going -q -b html -d "$stage/doctrees" "$stage/src" "$output"

# Every exported function in the reference: the C interface, the static
# class and the Python Board.
missing=""
for function in $(sed -n 's/^TAV_C_API [^(]*[ *]\(tav_[a-z0-9_]*\)(.*/\1/p' include/tav/tav.h); do
    grep -q "id=\"c\.$function\"" "$output/reference/c.html" || missing="$missing $function"
done
for function in $(sed -n 's/^ *static [^(]* \**\([A-Za-z_0-9]*\)(.*/\1/p' include/TAVLib.h | sort -u); do
    grep -q "TAVLib[0-9]*$function\|TAVLib::$function" "$output/reference/cpp.html" || missing="$missing TAVLib::$function"
done
grep -q 'id="tav.Board"' "$output/reference/python.html" || missing="$missing tav.Board"
if [ -n "$missing" ]; then
    echo "docs: missing from the reference:$missing"
    exit 1
fi
echo "docs: $output/index.html"
