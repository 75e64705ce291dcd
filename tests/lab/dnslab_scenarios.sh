#!/usr/bin/env bash
# Every scenario of the lab answers as designed, asked with the product's own QV_dig command
# line, of the lab resolver ("-") or of the server that serves the scenario.
source "$(dirname "$0")/common.bash"
lab_up

# expect_answer SERVER TYPE NAME REGEX...: one line of the answer matches each REGEX.
expect_answer() {
  local server=$1 type=$2 name=$3 regex
  shift 3
  if [[ $server == - ]]; then product_dig -t "$type" "$name"; else product_dig "@$server" -t "$type" "$name"; fi
  for regex in "$@"; do expect_match "$output" "$regex" "$type $name at $server"; done
}

NOERROR='status: NOERROR' AUTHORITATIVE='^;; flags: qr aa'

# The hierarchy: root and top-level-domain referrals down to the authoritative answers.
expect_answer - a www.lab.test "$NOERROR" '^www\.lab\.test\..*IN	A	127\.53\.100\.1$'
expect_answer - ns . '^\.	.*NS	a\.root-servers\.test\.$' '^b\.root-servers\.test\..*A	127\.53\.1\.2$'
expect_answer 127.53.1.2 a www.lab.test "$NOERROR" '^test\..*NS	ns1\.nic\.test\.$' '^ns2\.nic\.test\..*A	127\.53\.2\.2$'
expect_no_match "$output" "$AUTHORITATIVE" "a root answers with a referral"
expect_answer 127.53.2.2 a www.lab.test '^lab\.test\..*NS	ns2\.lab\.test\.$' '^ns1\.lab\.test\..*127\.53\.4\.1$'
expect_answer 127.53.3.1 a www.lab.example '^lab\.example\..*NS	ns1\.lab\.example\.$'
expect_answer 127.53.4.4 a www.lab.example "$AUTHORITATIVE" '^www\.lab\.example\..*127\.53\.100\.11$'
expect_answer 127.53.4.1 a nx.lab.test 'status: NXDOMAIN' '^lab\.test\..*SOA	ns1\.lab\.test\.'

# Identity: every server has its own hostname.bind and NSID.
for server in resolver:127.53.0.53 resolver:127.53.0.54 root-a:127.53.1.1 root-b:127.53.1.2 \
  tld-test-1:127.53.2.1 tld-test-2:127.53.2.2 tld-example-1:127.53.3.1 tld-example-2:127.53.3.2 \
  dom-test-1:127.53.4.1 dom-test-2:127.53.4.2 dom-example-1:127.53.4.3 dom-example-2:127.53.4.4; do
  name=${server%%:*} address=${server#*:}
  product_dig "@$address" hostname.bind txt chaos
  expect_match "$output" "^hostname\.bind\..*CH	TXT	\"$name\.dnslab\"$" "hostname.bind of $address"
  product_dig "@$address" +nsid -t soa test.
  expect_match "$output" "^; NSID: .* \(\"$name\"\)$" "NSID of $address"
done

# Faults, delegated from the TLD (native_dig.sh asks the dropping and the closed address).
expect_answer "$REFUSING" a www.refused.test 'status: REFUSED'
expect_answer "$SERVFAILING" a www.servfail.test 'status: SERVFAIL'
for fault in refused:3 servfail:4 timeout:1 closed:2; do
  expect_answer 127.53.2.1 a "www.${fault%:*}.test" "^ns\.${fault%:*}\.test\..*127\.53\.5\.${fault#*:}$"
done
expect_answer 127.53.4.1 a www.lame.test 'status: REFUSED'
expect_answer 127.53.4.2 a www.halflame.test "$AUTHORITATIVE" '127\.53\.100\.61$'
# Traversal: a TLD whose eight servers all drop, a domain whose servers disagree.
expect_answer 127.53.1.1 a www.lab.outage 'AUTHORITY: 8,' '^ns8\.nic\.outage\..*127\.53\.7\.8$'
product_dig @127.53.7.8 -t ns outage.
expect_match "$output" 'connection timed out' "an outage name server"
expect_answer 127.53.4.2 a www.groups.test '^www\.groups\.test\.	600	IN	A	127\.53\.100\.81$'
expect_answer 127.53.4.3 a www.groups.test '^www\.groups\.test\.	300	IN	A	127\.53\.100\.82$'

# Glueless: the TLD names the servers without addresses.
expect_answer 127.53.2.1 a www.glueless.test '^glueless\.test\..*NS	ns1\.dom\.example\.$' 'ADDITIONAL: 1$'
expect_no_match "$output" '^ns[12]\.dom\.example\..*	A	' "glue for glueless.test"

# Aliases: within a zone the whole chain, across zones one hop; HTTPS and SVCB alias modes.
expect_answer 127.53.4.1 a c1.alias.test 'ANSWER: 4,' '^c3\.alias\.test\..*CNAME	www\.alias\.test\.$'
expect_answer 127.53.4.1 a to-lab.alias.test 'ANSWER: 1,' 'CNAME	www\.lab\.test\.$'
expect_answer 127.53.4.1 a loop1.alias.test 'status: SERVFAIL' 'loop2\.alias\.test\..*CNAME	loop1'
expect_answer 127.53.4.1 https https.alias.test '^https\.alias\.test\..*HTTPS	0 www\.lab\.test\.$'
expect_answer 127.53.4.2 svcb svc.alias.test '^svc\.alias\.test\..*SVCB	0 svc\.lab\.example\.$'
# The 12-alias chain is too long for the resolver from its start; the deep chain resolves.
expect_answer - a hop1.chain.test 'status: SERVFAIL'
expect_answer - a hop3.chain.test "$NOERROR" '^www\.lab\.test\..*127\.53\.100\.1$'
name=www.deep.test
for level in $(seq 2 20); do name=www.d$level.${name#www.}; done
expect_answer 127.53.6.1 a "$name" 'NS[[:space:]]+ns\.d2\.' '127\.53\.6\.2$'
expect_answer - a "$name" "$NOERROR" '127\.53\.101\.20$'

# Reverse tree.
product_dig -x 127.53.4.1
expect_match "$output" 'PTR	ns1\.dom\.test\.$' "reverse of 127.53.4.1"

# DNSSEC at the resolver, asked with +nocd (a +cd query may leave an unvalidated answer cached).
product_dig +nocd -t a www.lab.test
expect_match "$output" '^;; flags: qr rd ra ad;' "validation of the signed zone"
expect_answer - a www.unsigned.test "$NOERROR" '127\.53\.100\.21$'
expect_no_match "$output" 'flags:.* ad' "the unsigned zone is not validated"
product_dig +nocd -t a www.bogus.test
expect_match "$output" 'status: SERVFAIL' "validation of the bogus zone"

finish
