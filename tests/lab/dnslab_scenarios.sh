#!/usr/bin/env bash
# Every scenario of the lab answers as designed, asked with the product's own QV_dig command
# line, either of the lab resolver or of the server that serves the scenario.
source "$(dirname "$0")/common.bash"
lab_up

# expect_answer SERVER TYPE NAME REGEX...: asks SERVER ("-" for the machine resolver of the
# namespace) and expects one line matching each REGEX.
expect_answer() {
  local server=$1 type=$2 name=$3 regex
  shift 3
  if [[ $server == - ]]; then product_dig -t "$type" "$name"; else product_dig "@$server" -t "$type" "$name"; fi
  for regex in "$@"; do expect_match "$output" "$regex" "$type $name at ${server/-/the machine resolver}"; done
}

NOERROR='status: NOERROR' AUTHORITATIVE='^;; flags: qr aa'

# The machine resolver resolves and validates through the lab hierarchy.
expect_answer - a www.lab.test "$NOERROR" '^www\.lab\.test\..*IN	A	127\.53\.100\.1$'
expect_answer - ns . '^\.	.*NS	a\.root-servers\.test\.$' '^b\.root-servers\.test\..*A	127\.53\.1\.2$'

# Root, top-level-domain and domain servers: referrals down to the authoritative answer.
expect_answer 127.53.1.2 a www.lab.test "$NOERROR" '^test\..*NS	ns1\.nic\.test\.$' '^ns2\.nic\.test\..*A	127\.53\.2\.2$'
expect_no_match "$output" "$AUTHORITATIVE" "a root answers with a referral"
expect_answer 127.53.2.2 a www.lab.test '^lab\.test\..*NS	ns2\.lab\.test\.$' '^ns1\.lab\.test\..*127\.53\.4\.1$'
expect_answer 127.53.3.1 a www.lab.example '^lab\.example\..*NS	ns1\.lab\.example\.$' \
  '^ns2\.lab\.example\..*127\.53\.4\.4$'
expect_answer 127.53.4.2 a www.lab.test "$AUTHORITATIVE" '^www\.lab\.test\..*127\.53\.100\.1$'
expect_answer 127.53.4.4 a www.lab.example "$AUTHORITATIVE" '^www\.lab\.example\..*127\.53\.100\.11$'
expect_answer 127.53.4.1 a multi.lab.test '^;; flags: .* ANSWER: 3,'
expect_answer 127.53.4.1 a nx.lab.test 'status: NXDOMAIN' '^lab\.test\..*SOA	ns1\.lab\.test\.'
expect_answer 127.53.4.1 a nodata.lab.test "$NOERROR" 'ANSWER: 0, AUTHORITY: 1' '^lab\.test\..*SOA'

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

# Faults (native_dig.sh and native_traceroute.sh ask the dropping and the closed address).
expect_answer "$REFUSING" a www.refused.test 'status: REFUSED'
expect_answer "$SERVFAILING" a www.servfail.test 'status: SERVFAIL'
expect_answer 127.53.2.1 a www.refused.test '^ns\.refused\.test\..*127\.53\.5\.3$'
expect_answer 127.53.2.1 a www.servfail.test '^ns\.servfail\.test\..*127\.53\.5\.4$'
expect_answer 127.53.2.1 a www.timeout.test '^ns\.timeout\.test\..*127\.53\.5\.1$'
expect_answer 127.53.2.1 a www.closed.test '^ns\.closed\.test\..*127\.53\.5\.2$'
expect_answer 127.53.2.1 a www.lame.test '^ns\.lame\.test\..*127\.53\.4\.1$'
expect_answer 127.53.4.1 a www.lame.test 'status: REFUSED'
expect_answer 127.53.4.1 a www.halflame.test 'status: REFUSED'
expect_answer 127.53.4.2 a www.halflame.test "$AUTHORITATIVE" '^www\.halflame\.test\..*127\.53\.100\.61$'
# Traversal scenarios: a TLD whose eight servers all drop, one whose ns8 alone answers, a domain
# with a dropping, a refusing and an answering server, and one whose servers disagree.
expect_answer 127.53.1.1 a www.lab.outage 'AUTHORITY: 8,' '^ns8\.nic\.outage\..*127\.53\.7\.8$'
for address in 127.53.7.1 127.53.7.8 127.53.7.17; do
  product_dig "@$address" -t ns outage.
  expect_match "$output" 'connection timed out' "the outage name server $address"
done
expect_answer 127.53.7.18 a www.lab.flaky '^lab\.flaky\..*NS	ns1\.lab\.flaky\.$'
expect_answer 127.53.4.2 a www.lab.flaky "$AUTHORITATIVE" '127\.53\.100\.71$'
expect_answer 127.53.2.2 a www.mixed.test 'AUTHORITY: 3,' '^ns2\.mixed\.test\..*127\.53\.5\.3$'
expect_answer 127.53.4.1 a www.mixed.test "$AUTHORITATIVE" '127\.53\.100\.91$'
expect_answer 127.53.4.1 a www.groups.test '^www\.groups\.test\.	300	IN	A	127\.53\.100\.81$'
expect_answer 127.53.4.2 a www.groups.test '^www\.groups\.test\.	600	IN	A	127\.53\.100\.81$'
expect_answer 127.53.4.3 a www.groups.test '^www\.groups\.test\.	300	IN	A	127\.53\.100\.82$'

# Glueless: the TLD names the servers but gives no address; the machine resolver finds them.
expect_answer 127.53.2.1 a www.glueless.test '^glueless\.test\..*NS	ns1\.dom\.example\.$' 'ADDITIONAL: 1$'
expect_no_match "$output" '^ns[12]\.dom\.example\..*	A	' "glue for glueless.test"
expect_answer - a ns1.dom.example '^ns1\.dom\.example\..*127\.53\.4\.3$'
expect_answer 127.53.4.3 a www.glueless.test "$AUTHORITATIVE" '^www\.glueless\.test\..*127\.53\.100\.51$'

# Aliases: within a zone the server gives the whole chain; across zones only the first hop.
expect_answer 127.53.4.1 a cname.alias.test '^cname\.alias\.test\..*CNAME	www\.alias\.test\.$' \
  '^www\.alias\.test\..*127\.53\.100\.41$'
expect_answer 127.53.4.1 a c1.alias.test 'ANSWER: 4,' '^c3\.alias\.test\..*CNAME	www\.alias\.test\.$'
expect_answer 127.53.4.1 a to-lab.alias.test 'ANSWER: 1,' '^to-lab\.alias\.test\..*CNAME	www\.lab\.test\.$'
expect_answer 127.53.4.2 a to-example.alias.test 'ANSWER: 1,' 'CNAME	www\.lab\.example\.$'
expect_answer - a to-example.alias.test '^www\.lab\.example\..*127\.53\.100\.11$'
expect_answer 127.53.4.1 a loop1.alias.test 'status: SERVFAIL' 'loop1\.alias\.test\..*CNAME	loop2' \
  'loop2\.alias\.test\..*CNAME	loop1'
expect_answer 127.53.4.1 a xloop.alias.test "$NOERROR" 'CNAME	xloop\.alias\.example\.$'
expect_answer 127.53.4.3 a xloop.alias.example "$NOERROR" 'CNAME	xloop\.alias\.test\.$'
expect_answer 127.53.4.1 https https.alias.test '^https\.alias\.test\..*HTTPS	0 www\.lab\.test\.$'
expect_answer 127.53.4.1 https www.lab.test '^www\.lab\.test\..*HTTPS	1 \. alpn="h2"$'
expect_answer 127.53.4.1 https https-service.alias.test 'HTTPS	1 \. alpn="h2"$'
expect_answer 127.53.4.2 svcb svc.alias.test '^svc\.alias\.test\..*SVCB	0 svc\.lab\.example\.$'
expect_answer 127.53.4.3 svcb svc.lab.example 'SVCB	1 \. alpn="h2" port=8443$'

# The 12-alias chain alternates between the two TLDs' servers, one hop per answer.
for hop in $(seq 1 12); do
  if ((hop % 2)); then zone=chain.test server=127.53.4.1 next=chain.example; else zone=chain.example server=127.53.4.3 next=chain.test; fi
  target=hop$((hop + 1)).$next
  ((hop < 12)) || target=www.lab.test
  expect_answer "$server" a "hop$hop.$zone" 'ANSWER: 1,' "^hop$hop\.$zone\..*CNAME	${target//./\\.}\.$"
done
expect_answer - a hop1.chain.test 'status: SERVFAIL'
expect_answer - a hop3.chain.test "$NOERROR" '^www\.lab\.test\..*127\.53\.100\.1$'

# The deep chain: 20 zones, each on its own address, each server refers to the next one.
name=www.deep.test
for level in $(seq 2 20); do name=www.d$level.${name#www.}; done
for level in $(seq 1 19); do
  expect_answer "127.53.6.$level" a "$name" "$NOERROR" "NS[[:space:]]+ns\.d$((level + 1))\." "127\.53\.6\.$((level + 1))$"
  expect_no_match "$output" "$AUTHORITATIVE" "deep zone $level answers with a referral"
done
expect_answer 127.53.6.20 a "$name" "$AUTHORITATIVE" '127\.53\.101\.20$'
expect_answer - a "$name" "$NOERROR" '127\.53\.101\.20$'

# Reverse tree: arpa. on the test. servers refers to the domain servers.
expect_answer 127.53.2.1 ptr 1.4.53.127.in-addr.arpa '^53\.127\.in-addr\.arpa\..*NS	ns1\.dom\.test\.$'
product_dig -x 127.53.4.1
expect_match "$output" 'PTR	ns1\.dom\.test\.$' "reverse of 127.53.4.1"
product_dig -x 127.53.100.1
expect_match "$output" 'PTR	www\.lab\.test\.$' "reverse of 127.53.100.1"

# DNSSEC at the resolver: signed validates, unsigned does not, bogus fails unless checking is off.
# Validation is asked with +nocd: an answer that a +cd query left in the cache unvalidated comes
# back without the ad flag to further +cd queries.
product_dig +nocd -t a www.lab.test
expect_match "$output" '^;; flags: qr rd ra ad;' "validation of the signed zone"
expect_answer - a www.unsigned.test "$NOERROR" '127\.53\.100\.21$'
expect_no_match "$output" 'flags:.* ad' "the unsigned zone is not validated"
expect_answer - a www.bogus.test '127\.53\.100\.31$'
product_dig +nocd -t a www.bogus.test
expect_match "$output" 'status: SERVFAIL' "validation of the bogus zone"

finish
