#!/usr/bin/env bash
# Bash completion of the tools, checked against their -h texts: it offers exactly the options
# each -h lists, offers no option name where -h shows that a value comes next (and option names
# after a flag), and completes files, record types and hosts where an option takes one.
source "$(dirname "$0")/../lab/common.bash"
readonly BINARY_DIR=${NT_BINARY_DIR:-$SOURCE_DIR/build/bin}

set +u # bash-completion reads variables that may be unset
source /usr/share/bash-completion/bash_completion
source "$SOURCE_DIR/packaging/bash-completion/dns_experience"

# complete_line LINE: the words bash completion offers for the last word of LINE (a line that ends
# with a blank completes a new, empty word), one a line, sorted.
complete_line() {
  local -a words
  read -r -a words <<<"$1"
  [[ $1 == *" " ]] && words+=("")
  COMP_WORDS=("${words[@]}") COMP_CWORD=$((${#words[@]} - 1)) COMP_LINE=$1 COMP_POINT=${#1}
  COMPREPLY=()
  _network_tools "${words[0]}" "${words[-1]}" "${words[-2]}"
  ((${#COMPREPLY[@]} == 0)) || printf '%s\n' "${COMPREPLY[@]}" | sort
}

# help_options TOOL: the options TOOL's -h lists, one a line, each followed by " value" when its
# help entry shows a value ("-C path --cache-path path", "-p, --port PORT", "-e, --here=FACTOR").
help_options() {
  local line rest options takes_value
  local entry='^(--?[[:alnum:]][[:alnum:]-]*)(=[^[:space:]]+| [^-[:space:]][^[:space:]]*)?,?( +|$)(.*)$'
  "$BINARY_DIR/$1" -h | while IFS= read -r line; do
    [[ $line =~ ^[[:space:]]+- ]] || continue
    rest=${line#"${line%%-*}"} options=() takes_value=""
    while [[ $rest =~ $entry ]]; do
      options+=("${BASH_REMATCH[1]}")
      [[ -z ${BASH_REMATCH[2]} ]] || takes_value=" value"
      rest=${BASH_REMATCH[4]}
      [[ $rest == -* ]] || break
    done
    printf "%s$takes_value\n" "${options[@]}"
  done
}

# Options whose -h line shows no value although they take one.
readonly VALUE_NOT_SHOWN=" dns_experience:-X dns_experience:--test-id "

folder=$(mktemp -d) # an empty folder: file completion offers nothing there
trap 'rm -rf "$folder"' EXIT
cd "$folder" || exit 1
# Every tool the script completes (the package's own test checks that each packaged tool is one).
tools=$(complete -p | sed -n 's/^complete -F _network_tools //p')
expect_match "$tools" '^dns_experience$' "tools completed"
for tool in $tools; do
  documented=$(help_options "$tool")
  expect_match "$documented" '^-h' "$tool: options read from -h"
  expect_equal "$(complete_line "$tool -")" "$(cut -d' ' -f1 <<<"$documented" | sort)" \
    "$tool: the options offered are those of -h"
  while read -r option value; do
    offered=$(complete_line "$tool $option -")
    if [[ -n $value || $VALUE_NOT_SHOWN == *" $tool:$option "* ]]; then
      expect_no_match "$offered" '^-' "$tool $option takes a value: no option offered after it"
    else
      expect_match "$offered" '^-h$' "$tool $option is a flag: options offered after it"
    fi
  done <<<"$documented"
done

# What follows an option that takes a file, a record type or a host, in both forms of long options.
touch cache.dat result.json
while read -r expected line; do
  expect_match "$(complete_line "$line")" "^$expected\$" "completion of [$line]"
done <<'CASES'
cache.dat   dns_experience -C ca
cache.dat   dns_experience --cache-path=ca
aaaa        dig_wrapper -t AA
txt         dns_experience --query-type=tx
localhost   dig_wrapper --server=localh
localhost   dig_wrapper -E localh
localhost   ping_wrapper -j localh
result.json dns_experience_view res
CASES

finish
