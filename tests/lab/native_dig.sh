#!/usr/bin/env bash
# QV_dig as the product runs it inside the lab: precise fractional time-outs with the line the
# product reads, refused connections and the version pipeline. The answers themselves are read by
# the product's own lab tests (dig_wrapper_test.cpp).
source "$(dirname "$0")/common.bash"
lab_up

# A time-out must last the time given, not dig's whole seconds: a limit rounded up to the next
# second (or ended early) is far outside this tolerance, while a busy machine stays inside it.
readonly TOLERANCE_MS=250

# expect_timeout WHAT TIMEOUT TRIES EXTRA...: a query to the dropping address lasts TIMEOUT x TRIES
# seconds and ends with the time-out line and a non-zero status.
expect_timeout() {
  local what=$1 timeout=$2 tries=$3 expected_ms error_ms
  shift 3
  timed_in_lab "$QV_DIG" -u +comment +question "$@" -4 +cd +tries="$tries" +timeout="$timeout" \
    "@$DROP" -t a www.timeout.test
  expected_ms=$(awk -v t="$timeout" -v n="$tries" 'BEGIN { printf "%d", t * n * 1000 }')
  error_ms=$((elapsed_ms - expected_ms))
  echo "QV_dig $what +timeout=$timeout +tries=$tries: ${elapsed_ms} ms for ${expected_ms} ms (error ${error_ms} ms)"
  checks=$((checks + 1))
  ((error_ms >= 0 && error_ms <= TOLERANCE_MS)) ||
    fail "$what +timeout=$timeout took ${elapsed_ms} ms instead of ${expected_ms} ms"
  expect_status "$status" nonzero "$what time-out"
  expect_match "$output" '^;; connection timed out; no servers could be reached$' "$what time-out line"
  expect_no_match "$output" 'communications error|failed: timed out' "$what time-out, dig's own words"
}

expect_timeout UDP 1.500 1 +notcp +ignore
expect_timeout UDP 0.501 1 +notcp +ignore
expect_timeout UDP 1 1 +notcp +ignore
expect_timeout TCP 0.750 1 +tcp
expect_timeout "UDP with two tries" 0.300 2 +notcp

# Nothing listens at the closed address: refused, in both transports, and not a time-out.
product_dig "@$CLOSED" -t a www.closed.test
expect_status $status nonzero "UDP to the closed address"
expect_match "$output" 'connection refused' "UDP to the closed address"
expect_no_match "$output" 'timed out' "UDP to the closed address"
product_dig +tcp "@$CLOSED" -t a x.test
expect_status $status nonzero "TCP to the closed address"
expect_match "$output" 'connection refused' "TCP to the closed address"

# A +timeout dig cannot read is dig's error, not a time-out.
capture in_lab "$QV_DIG" +timeout=abc "@$RESOLVER" www.lab.test
expect_status $status nonzero "an unreadable +timeout"
expect_no_match "$output" 'connection timed out' "an unreadable +timeout"

# The version pipeline of the Dig wrapper.
expect_match "$("$QV_DIG" -v 2>&1 | awk '{print $2}')" '^9\.18\.[0-9]+' "dig version pipeline"

finish
