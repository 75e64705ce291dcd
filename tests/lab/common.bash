# Helpers shared by the lab test scripts (sourced; not a test of its own).
# shellcheck disable=SC2034 # the variables set here are read by the scripts that source it
set -euo pipefail

readonly SOURCE_DIR=${NT_SOURCE_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
readonly DNSLAB=$SOURCE_DIR/lab/dnslab
readonly QV_DIG=/opt/Tarvex/Tools/bind/QV_dig
readonly QV_DELV=/opt/Tarvex/Tools/bind/QV_delv
readonly QV_TRACEROUTE=/opt/Tarvex/Tools/traceroute/QV_traceroute
# The lab's addresses (lab/README.md).
readonly RESOLVER=127.53.0.53 RESOLVER2=127.53.0.54
readonly DROP=127.53.5.1 CLOSED=127.53.5.2 REFUSING=127.53.5.3 SERVFAILING=127.53.5.4

failures=0
checks=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# expect_match TEXT REGEX WHAT: TEXT must contain a line matching the extended REGEX.
expect_match() {
  checks=$((checks + 1))
  grep -Eq -- "$2" <<<"$1" || fail "$3: no line matches /$2/ in:"$'\n'"$1"
}

# expect_no_match TEXT REGEX WHAT: no line of TEXT may match REGEX.
expect_no_match() {
  checks=$((checks + 1))
  if grep -Eq -- "$2" <<<"$1"; then fail "$3: unexpected /$2/ in:"$'\n'"$1"; fi
}

# expect_equal ACTUAL EXPECTED WHAT
expect_equal() {
  checks=$((checks + 1))
  [[ $1 == "$2" ]] || fail "$3: expected [$2], got [$1]"
}

# expect_status ACTUAL EXPECTED WHAT, where EXPECTED is a number or "nonzero".
expect_status() {
  checks=$((checks + 1))
  if [[ $2 == nonzero ]]; then
    (($1 != 0)) || fail "$3: expected a non-zero exit status, got 0"
  else
    (($1 == $2)) || fail "$3: expected exit status $2, got $1"
  fi
}

finish() {
  if ((failures > 0)); then
    echo "$failures of $checks checks failed" >&2
    exit 1
  fi
  echo "all $checks checks passed"
}

# Runs the arguments; what they print (both streams) goes to $output, their exit status to $status.
capture() {
  status=0
  output=$("$@" 2>&1) || status=$?
}

lab_up() {
  "$SOURCE_DIR/native/install"
  "$DNSLAB" up >/dev/null
}

# The lab's namespace: DNSLAB_NAME selects another lab instance (lab/dnslab).
readonly LAB_NAME=${DNSLAB_NAME:-dnslab}
in_lab() { ip netns exec "$LAB_NAME" "$@"; }

# Runs QV_dig inside the lab with the command line the product writes, over UDP or, when the
# first argument is +tcp, over TCP (server and query follow); output and status in $output and
# $status.
product_dig() {
  local transport=(+notcp +ignore)
  if [[ ${1:-} == +tcp ]]; then
    transport=(+tcp)
    shift
  fi
  capture in_lab "$QV_DIG" -u +comment +question "${transport[@]}" -4 +cd +tries=1 +timeout=1.500 "$@"
}

# Runs the arguments inside the lab, timed there (so that entering the namespace is not
# counted); their output goes to $output, their status to $status and the wall time they took,
# in milliseconds, to $elapsed_ms.
timed_in_lab() {
  local result
  # shellcheck disable=SC2016 # expanded by the inner shell
  result=$(in_lab bash -c 'start=$EPOCHREALTIME; "$@" 2>&1; status=$?; end=$EPOCHREALTIME
    echo "$status $(((${end//[!0-9]/} - ${start//[!0-9]/}) / 1000))"' timed "$@")
  output=${result%$'\n'*}
  [[ $result == *$'\n'* ]] || output=""
  read -r status elapsed_ms <<<"${result##*$'\n'}"
}
