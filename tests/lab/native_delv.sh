#!/usr/bin/env bash
# QV_delv as the product runs it inside the lab: the four validation outcomes the product reads,
# the closing time line, the lab trust anchor and the version pipeline. The traced records are read
# by the product's own lab tests (delv_wrapper_test.cpp, dig_wrapper_test.cpp).
source "$(dirname "$0")/common.bash"
lab_up

# product_delv EXECUTABLE TRANSPORT NAME: the product's delv command line against the resolver.
product_delv() { capture in_lab "$1" "$2" -4 "@$RESOLVER" -t a "$3" +cd +mtrace +vtrace; }

product_delv "$QV_DELV" +notcp www.lab.test
expect_status $status 0 "signed name"
expect_match "$output" '^; fully validated$' "signed name"
expect_match "$output" '^;; fetch: www\.lab\.test/A$' "fetch trace line"
expect_equal "$(tail -n 1 <<<"$output" | sed -E 's/[0-9]+/N/')" ';; time: N ms' "closing time line"

product_delv "$QV_DELV" +tcp www.unsigned.test
expect_match "$output" '^; unsigned answer$' "name in the unsigned zone, over TCP"
product_delv "$QV_DELV" +notcp nx.unsigned.test
expect_match "$output" '^; negative response, unsigned answer$' "missing name in the unsigned zone"
product_delv "$QV_DELV" +notcp www.bogus.test
expect_match "$output" '^;; resolution failed: ' "name in the zone with a wrong DS"
expect_match "$(tail -n 1 <<<"$output")" '^;; time: [0-9]+ ms$' "time line after a failed resolution"

# Without the lab anchor, delv falls back to its built-in root key and nothing validates: the
# lab anchor is what makes signed names validate.
capture in_lab env LAB_TRUST_ANCHOR= "$QV_DELV" +notcp -4 "@$RESOLVER" -t a www.lab.test +cd +mtrace +vtrace
expect_no_match "$output" '^; fully validated$' "validation without the lab trust anchor"

expect_match "$("$QV_DELV" -v 2>&1 | awk '{print $2}')" '^9\.18\.[0-9]+' "delv version pipeline"

finish
