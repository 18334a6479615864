#!/usr/bin/env bash
# Checks the manual pages and the bash completion under ROOT, which holds
# share/ (the build folder) or usr/share/ (an unpacked package):
#   scripts/check_docs.sh build
#   scripts/check_docs.sh /tmp/unpacked
# Each page must render with man without a warning of groff's, and the
# completion, sourced by a bash without start-up files, must complete the
# tool's commands, an album's sub-words and an option.
set -euo pipefail

root=${1:?usage: scripts/check_docs.sh ROOT}
share=$root/share
[ -d "$root/usr/share/man" ] && share=$root/usr/share
export LC_ALL=C.UTF-8 MANWIDTH=80
failed=0

fail() {
  echo "check_docs: $*" >&2
  failed=1
}

for name in tolvek-photos-library tolvek-photos; do
  page=$share/man/man1/$name.1.gz
  if [ ! -f "$page" ]; then
    fail "no manual page $page"
    continue
  fi
  # groff's own warnings (-ww: all of them), then what man itself says.
  warnings=$(gzip -dc "$page" | groff -man -ww -z 2>&1 >/dev/null || echo "groff failed")
  [ -z "$warnings" ] || fail "$page: $warnings"
  warnings=$(man --warnings -l "$page" 2>&1 >/dev/null || echo "man failed")
  [ -z "$warnings" ] || fail "$page: $warnings"
  man -l "$page" 2>/dev/null | grep -q "^NAME" || fail "$page renders no NAME section"
done

completion=$share/bash-completion/completions/tolvek-photos-library
# The words the completion offers for a command line whose last word is
# being completed, one a line.
complete_line() {
  bash --norc --noprofile "$(dirname "$0")/complete_words.sh" "$completion" tolvek-photos-library "$@"
}

if [ ! -f "$completion" ]; then
  fail "no completion $completion"
else
  [ "$(complete_line sy)" = sync ] || fail "\"tolvek-photos-library sy\" does not complete to sync"
  [ "$(complete_line import --a)" = --album ] || fail "\"tolvek-photos-library import --a\" does not complete to --album"
  offered=$(complete_line album "")
  for word in list create rename delete add remove; do
    grep -qx -- "$word" <<<"$offered" || fail "\"tolvek-photos-library album \" does not offer $word"
  done
fi

[ "$failed" = 0 ] && echo "check_docs: the manual pages and the completion under $share are sound"
exit "$failed"
