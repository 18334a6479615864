#!/usr/bin/env bash
# Prints, one a line, what the bash completion COMPLETION offers when the
# words given are on the command line and the last one is being completed
# (give "" to complete a new word), as bash's own completion would call it.
#   scripts/complete_words.sh COMPLETION tolvek-photos-library album ""
# Used by check_docs.sh and the completion tests.
source "$1" || exit 1
shift
registered=$(complete -p tolvek-photos-library) || exit 1
function=${registered##*-F }
function=${function%% *}
COMP_WORDS=("$@")
COMP_CWORD=$(($# - 1))
COMP_LINE="$*"
COMP_POINT=${#COMP_LINE}
"$function" "$1" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
printf '%s\n' "${COMPREPLY[@]}"
