#!/usr/bin/env bash
# Counts test lines against product lines.
#
#   scripts/loc.sh
#
# Test code: tests/ and fuzz/ (C and C++ sources and headers; Python files
# under tests/). Product code: src/, include/, idl/, tools/ and python/ (C and
# C++ sources and headers, .idl, Python). examples/, bench/, scripts/, cmake/
# and docs/ count on neither side. A line counts when it is neither blank nor
# only a comment (//, /* or a leading * in C, C++ and IDL; # in Python).
# Files are those git tracks plus untracked ones that are not ignored.
# Prints one line per directory, then the summary as the last line.
set -euo pipefail
cd "$(dirname "$0")/.."

c_rule='^\s*((//|/\*|\*).*)?$'
py_rule='^\s*(#.*)?$'

# count DIR REGEX: counted lines of the files below DIR whose names match REGEX.
count() {
  local dir=$1 names=$2 total=0 file rule n
  while IFS= read -r -d '' file; do
    [ -f "$file" ] || continue  # tracked, but deleted in the working tree
    case "$file" in
      *.py) rule=$py_rule ;;
      *) rule=$c_rule ;;
    esac
    n=$(grep -cvE "$rule" "$file" || true)
    total=$((total + n))
  done < <(git ls-files -z --cached --others --exclude-standard -- "$dir" |
           sort -zu | grep -zE "$names" || true)
  echo "$total"
}

c_names='\.(c|cc|cpp|h|hpp)$'
tests=0
product=0
for entry in "tests:${c_names}|\.py$" "fuzz:${c_names}"; do
  dir=${entry%%:*}
  n=$(count "$dir" "${entry#*:}")
  printf '%-10s %6d  test\n' "$dir/" "$n"
  tests=$((tests + n))
done
for entry in "src:${c_names}" "include:${c_names}" "idl:${c_names}|\.idl$" \
            "tools:${c_names}|\.py$" "python:${c_names}|\.py$"; do
  dir=${entry%%:*}
  n=$(count "$dir" "${entry#*:}")
  printf '%-10s %6d  product\n' "$dir/" "$n"
  product=$((product + n))
done
awk -v t="$tests" -v p="$product" \
  'BEGIN { printf "tests %d, product %d, ratio %.2f\n", t, p, (p > 0 ? t / p : 0) }'
