#!/bin/sh
# The user guide shows the loop scripts that the tests run: every block
# marked "<!-- file: path -->" must equal that file, and every file in
# scripts/guide must be shown.
# usage: guide_text.sh <source root>
root=$1
guide=$root/docs/guide.md
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
awk -v out="$tmp" '
  /^<!-- file: .* -->$/ { name = $3; gsub("/", "_", name); want = 1; next }
  want && /^```/ { want = 0; inblock = 1; file = out "/" name; printf "" > file; next }
  inblock && /^```$/ { inblock = 0; close(file); next }
  inblock { print >> file }
' "$guide"
status=0
for f in "$root"/scripts/guide/*; do
  rel=scripts/guide/$(basename "$f")
  shown=$tmp/$(echo "$rel" | tr / _)
  if [ ! -f "$shown" ]; then
    echo "not shown in docs/guide.md: $rel"
    status=1
  elif ! diff -u "$f" "$shown" >/dev/null; then
    echo "docs/guide.md differs from $rel:"
    diff -u "$f" "$shown"
    status=1
  fi
done
shown=$(ls "$tmp" | wc -l)
files=$(ls "$root"/scripts/guide | wc -l)
if [ "$shown" -ne "$files" ]; then
  echo "docs/guide.md shows $shown files, scripts/guide holds $files"
  status=1
fi
[ $status -eq 0 ] && echo "guide text matches scripts/guide ($files files)"
exit $status
