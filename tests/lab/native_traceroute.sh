#!/usr/bin/env bash
# QV_traceroute as the product runs it inside the lab (ping mode): the lines the product parses,
# rounds of more than 10 probes, the overall limit, the packet-loss window, refusals and the
# version pipeline.
source "$(dirname "$0")/common.bash"
lab_up

# ping ARGS...: QV_traceroute inside the lab; output and status in $output and $status.
ping() { capture in_lab "$QV_TRACEROUTE" "$@"; }

# expect_replies WHAT COUNT ADDRESS TTL: a complete ping-mode output with COUNT answered probes.
expect_replies() {
  expect_status $status 0 "$1"
  expect_equal "$(head -n 1 <<<"$output")" "ping to $3 ($3), $4 hops max, 60 byte packets" "$1: first line"
  expect_match "$output" "^$4  $3  " "$1: hop line"
  expect_equal "$(sed -n 2p <<<"$output" | grep -o '[0-9.]* ms' | wc -l)" "$2" "$1: answered probes"
  expect_match "$output" '^Duration: [0-9]+\.[0-9]{3}$' "$1: duration line"
  expect_no_match "$output" 'Timedout|Packet loss' "$1"
}

# The product's default command line, and its TCP SYN and UDP forms.
ping -I -4 --ping=128 -q 5 -w 2,0,0 -n -Q 70 -N 1 127.53.1.1
expect_replies "ICMP" 5 127.53.1.1 128
ping -T -4 --ping=64 -q 3 -w 2,0,0 -n -Q 70 -p 53 -N 1 127.53.4.1
expect_replies "TCP SYN to a name server" 3 127.53.4.1 64
ping -4 --ping=64 -q 3 -w 2,0,0 -n -Q 70 -p 53 -O fix_dest_port -N 1 "$RESOLVER"
expect_replies "UDP to port 53" 3 "$RESOLVER" 64
# traceroute takes at most 10 probes per run: 23 probes take three runs, printed as one line.
ping -I -4 --ping=64 -q 23 -z 0.001000 -w 2,0,0 -n -Q 70 -N 1 127.53.2.1
expect_replies "23 probes" 23 127.53.2.1 64

# The overall limit ends the run: 6 probes of 1 s each, one at a time, within 1.5 s.
timed_in_lab "$QV_TRACEROUTE" -I -4 --ping=64 -q 6 -w 1,0,0 -n -Q 1.5 -N 1 "$DROP"
echo "QV_traceroute -Q 1.5 took ${elapsed_ms} ms"
checks=$((checks + 1))
((elapsed_ms >= 1500 && elapsed_ms < 2500)) || fail "-Q 1.5 took ${elapsed_ms} ms"
expect_match "$output" '^Timedout: true$' "overall limit"
expect_equal "$(sed -n 2p <<<"$output" | grep -o '\*' | wc -l)" 6 "overall limit: lost probes"

# Packet loss: the first window of 2 probes loses 100% > 50%: the run stops after it.
ping -I -4 --ping=64 -q 6 -z 0.010000 --packet-loss-threshold=50 --packet-loss-window-size=2 -w 1,0,0 -n \
  -Q 70 -N 1 "$DROP"
expect_status $status 0 "packet loss over the threshold"
expect_match "$output" '^Packet loss: Threshold violation detected$' "packet loss over the threshold"
expect_equal "$(sed -n 2p <<<"$output")" "64  * *" "packet loss over the threshold: probes sent"
# Loss equal to the threshold is no violation.
ping -I -4 --ping=64 -q 2 -z 0.010000 --packet-loss-threshold=100 --packet-loss-window-size=2 -w 1,0,0 -n \
  -Q 70 -N 1 "$DROP"
expect_no_match "$output" 'Packet loss' "loss equal to the threshold"

# Refusals: probe kinds this build cannot send (without naming SACK, which would make the
# product fall back), bad values, unknown names.
for kind in --tcpdata --quic; do
  status=0
  errors=$(in_lab "$QV_TRACEROUTE" "$kind" -4 --ping=64 -q 1 -n 127.53.1.1 2>&1 >/dev/null) || status=$?
  expect_status $status nonzero "$kind"
  expect_match "$errors" "QV_traceroute: .*\($kind\) .*not supported" "$kind message on standard error"
  expect_no_match "$errors" "SACK" "$kind refusal"
done
ping -I -4 --ping=0 -q 1 -n 127.53.1.1
expect_status $status nonzero "TTL 0"
expect_match "$output" 'argument --ping: 0 is not in 1\.\.255' "TTL 0"
ping -I -4 --ping=64 -q 1 -n -w 1,0,0 no-such-name.test
expect_status $status nonzero "unknown name"
expect_match "$output" 'Name or service not known' "unknown name"

expect_equal "$("$QV_TRACEROUTE" --version 2>&1 | grep version | awk -F " version " '{print $2}' | awk '{print $1}')" \
  "$(traceroute --version 2>&1 | sed -n 's/.*version \([0-9.]*\).*/\1/p')" "traceroute version pipeline"

finish
