#!/usr/bin/env bash
# The lab's life cycle: up and down are idempotent, up repairs what a crash left, down leaves
# nothing behind, and nothing outside the namespace changes.
source "$(dirname "$0")/common.bash"

host_state() {
  md5sum /etc/resolv.conf
  ip -brief addr show lo
  nft list ruleset 2>/dev/null | md5sum
}
server_pids() { cat /run/$LAB_NAME/servers/*/named.pid 2>/dev/null | sort; }

"$SOURCE_DIR/native/install"
before=$(host_state)

"$DNSLAB" down >/dev/null
capture "$DNSLAB" down
expect_status $status 0 "second down"
capture "$DNSLAB" status
expect_status $status 3 "status of a lab that is down"
capture "$DNSLAB" exec true
expect_status $status nonzero "exec while the lab is down"
expect_match "$output" "lab is down" "exec while the lab is down"

# The second up finds everything running and restarts nothing.
capture "$DNSLAB" up
expect_status $status 0 "up"
pids=$(server_pids)
expect_equal "$(wc -l <<<"$pids")" 14 "server processes after up"
capture "$DNSLAB" up
expect_match "$output" "already up" "second up"
expect_equal "$(server_pids)" "$pids" "server pids after the second up"
capture "$DNSLAB" status
expect_status $status 0 "status of a lab that is up"
expect_equal "$(in_lab cat /etc/resolv.conf)" "nameserver $RESOLVER"$'\n'"nameserver $RESOLVER2" \
  "resolv.conf inside the lab"
expect_equal "$(host_state)" "$before" "the machine's resolv.conf, loopback addresses and nftables"

# A crashed server: status says so and up repairs it.
kill -KILL "$(cat /run/$LAB_NAME/servers/root-b/named.pid)"
sleep 0.2
capture "$DNSLAB" status
expect_status $status 1 "status with one server down"
"$DNSLAB" up >/dev/null
product_dig @127.53.1.2 -t ns test.
expect_match "$output" "status: NOERROR" "the repaired root server answers"

# A half-removed lab (namespace gone, servers and files left) comes back up too.
pids=$(server_pids)
ip netns del "$LAB_NAME"
"$DNSLAB" up >/dev/null
product_dig -t a www.lab.test
expect_match "$output" "^www\.lab\.test\..*127\.53\.100\.1$" "resolution after up from a half-removed lab"
for pid in $pids; do
  if kill -0 "$pid" 2>/dev/null; then fail "server $pid of the half-removed lab still runs"; fi
done

# Down leaves no process, namespace or file; a pid file naming some other process by now (pids
# are reused) does not get it killed.
pids=$(server_pids)
sleep 60 &
bystander=$!
echo $bystander >/run/$LAB_NAME/servers/root-a/named.pid
"$DNSLAB" down >/dev/null
kill -0 $bystander 2>/dev/null || fail "down killed a process that only a stale pid file named"
kill $bystander 2>/dev/null || true
for pid in $pids; do
  if kill -0 "$pid" 2>/dev/null; then fail "server $pid still runs after down"; fi
done
expect_no_match "$(ip netns list)" "^$LAB_NAME( |$)" "namespaces after down"
left=(/run/"$LAB_NAME" /etc/netns/"$LAB_NAME")
[[ $LAB_NAME == dnslab ]] && left+=(/opt/Tarvex/Tools/bind/lab-trust-anchor.conf)
for path in "${left[@]}"; do
  [[ ! -e $path ]] || fail "$path is left after down"
done
expect_equal "$(host_state)" "$before" "the machine's state after down"

finish
