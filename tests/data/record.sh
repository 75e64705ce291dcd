#!/usr/bin/env bash
# Re-records, from the DNS lab, the native tool outputs that the parser tests read: one file per
# case, holding exactly what the product would read (the command's standard output and error,
# merged). recordings.tsv lists every file with its command line. Needs root; brings the lab up.
# Names given as arguments re-record only those files (without .txt).
#   tests/data/record.sh
#   tests/data/record.sh dig_https_service dig_referral_root_example
set -euo pipefail
data_dir=$(cd "$(dirname "$0")" && pwd)
root_dir=$(cd "$data_dir/../.." && pwd)

"$root_dir/native/install"
"$root_dir/lab/dnslab" up >/dev/null

dig="/opt/Tarvex/Tools/bind/QV_dig -u +comment +question +notcp +ignore -4 +cd +tries=1 +timeout=1.500"
dig_tcp="/opt/Tarvex/Tools/bind/QV_dig -u +comment +question +tcp -4 +cd +tries=1 +timeout=1.500"
delv="/opt/Tarvex/Tools/bind/QV_delv +notcp -4 @127.53.0.53 -t a"
delv_trace="+cd +mtrace +vtrace"
ping="/opt/Tarvex/Tools/traceroute/QV_traceroute"

# file name (without .txt) | command line, as the product writes it
cases=(
  "dig_a_answer|$dig @127.53.0.53 -t a www.lab.test"
  "dig_root_servers|$dig +noedns @127.53.0.53 -t ns ."
  "dig_referral_root|$dig +noedns @127.53.1.1 -t ns test."
  "dig_referral_tld|$dig @127.53.2.1 -t a www.lab.test"
  "dig_authoritative_answer|$dig @127.53.4.1 -t a www.lab.test"
  "dig_nxdomain|$dig @127.53.4.1 -t a nx.lab.test"
  "dig_noerror_no_records|$dig @127.53.4.1 -t a nodata.lab.test"
  "dig_nsid|$dig @127.53.4.1 +nsid -t a www.lab.test"
  "dig_hostname_bind|$dig @127.53.4.1 hostname.bind txt chaos"
  "dig_tcp|$dig_tcp @127.53.4.2 -t a www.lab.test"
  "dig_servfail|$dig @127.53.5.4 -t a www.servfail.test"
  "dig_refused|$dig @127.53.5.3 -t a www.refused.test"
  "dig_timeout|${dig/1.500/0.501} @127.53.5.1 -t a www.timeout.test"
  "dig_connection_refused|$dig @127.53.5.2 -t a www.closed.test"
  "dig_cname_chain|$dig @127.53.4.1 -t a c1.alias.test"
  "dig_cname_other_tld|$dig @127.53.4.1 -t a to-example.alias.test"
  "dig_https_alias|$dig @127.53.4.1 -t https https.alias.test"
  "dig_reverse|$dig @127.53.0.53 -x 127.53.4.1"
  "dig_client_subnet|$dig +subnet=127.53.200.0/24 @127.53.0.53 -t a www.lab.test"
  "dig_referral_root_example|$dig +noedns @127.53.1.1 -t ns example."
  "dig_referral_tld_example|$dig @127.53.3.1 -t a www.lab.example."
  "dig_authoritative_answer_example|$dig @127.53.4.3 -t a www.lab.example."
  "dig_referral_tld_alias|$dig @127.53.2.2 -t a to-example.alias.test."
  "dig_https_service|$dig @127.53.4.1 -t https www.lab.test."
  "delv_fully_validated|$delv www.lab.test $delv_trace"
  "delv_unsigned|$delv www.unsigned.test $delv_trace"
  "delv_negative_unsigned|$delv nx.unsigned.test $delv_trace"
  "delv_resolution_failed|$delv www.bogus.test $delv_trace"
  "ping_icmp|$ping -I -4 --ping=128 -q 5 -w 2,0,0 -n -Q 70 -N 1 127.53.1.1"
  "ping_tcp_syn|$ping -T -4 --ping=128 -q 5 -w 2,0,0 -n -Q 70 -p 53 -N 1 127.53.4.1"
  "ping_timed_out|$ping -I -4 --ping=128 -q 3 -w 1,0,0 -n -Q 70 -N 3 127.53.5.1"
  "ping_packet_loss|$ping -I -4 --ping=128 -q 6 -z 0.010000 --packet-loss-threshold=50 --packet-loss-window-size=2 -w 1,0,0 -n -Q 70 -N 1 127.53.5.1"
)

index=$data_dir/recordings.tsv
printf 'file\tcommand (run inside the lab namespace, followed by 2>&1)\n' >"$index.new"
for entry in "${cases[@]}"; do
  name=${entry%%|*} command=${entry#*|}
  printf '%s.txt\t%s\n' "$name" "$command" >>"$index.new"
  if (($# > 0)) && [[ " $* " != *" $name "* ]]; then continue; fi
  # The product reads the output whatever the exit status.
  # shellcheck disable=SC2086
  "$root_dir/lab/dnslab" exec $command >"$data_dir/$name.txt" 2>&1 || true
  echo "recorded $name.txt"
done
mv "$index.new" "$index"
