#!/usr/bin/env bash
# A program's man page renders without a warning and names exactly the
# options its --help lists: the option lines of --help (two spaces, then the
# names before the first blank) against the names of the page's .TP headings.
# Exits 77 (skipped) without man.
# Usage: man_page_test.sh PROGRAM PAGE
set -uo pipefail
program=$1 page=$2
command -v man >/dev/null 2>&1 || { echo "man absent: skipped"; exit 77; }

warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
[ -z "$warnings" ] || { echo "man --warnings -l $page:"; echo "$warnings"; exit 1; }

help_options=$("$program" --help | sed -n 's/^  \(-[^ ]*\).*/\1/p' | tr ',' '\n' | sort -u)
page_options=$(awk 'heading { print; heading = 0 } /^\.TP/ { heading = 1 }' "$page" |
  grep -o '\\-\(\\-\)\?[a-z][a-z\\-]*' | sed 's/\\-/-/g' | sort -u)
if [ "$help_options" != "$page_options" ]; then
  echo "options of --help (<) and of $page (>) differ:"
  diff <(echo "$help_options") <(echo "$page_options")
  exit 1
fi
echo "$(echo "$help_options" | wc -l) options in both, no warning"
