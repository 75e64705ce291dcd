#!/usr/bin/env python3
"""Writes the seed inputs of every fuzz target into OUT_DIR/<target>/.

The native tool texts are the lab recordings of tests/data/ and fuzz/recordings/, each given the
option byte of its target (see the comment at the top of each target); the other seeds are small
documents, files and texts made here. The engine's targets read dig wrapper results: DIG_RESULTS,
the program fuzz_dig_results of the build, turns the recordings of dig's text into them.

    fuzz/seeds.py OUT_DIR [DIG_RESULTS]
"""
import pathlib
import struct
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
RECORDINGS = sorted((ROOT / "tests" / "data").glob("*.txt")) + sorted(
    (ROOT / "fuzz" / "recordings").glob("*.txt"))


def recording(name):
    for path in RECORDINGS:
        if path.stem == name:
            return path.read_bytes()
    raise SystemExit(f"seeds: no recording {name}")


def recordings(prefix):
    return {path.stem: path.read_bytes() for path in RECORDINGS if path.stem.startswith(prefix)}


# Option bytes of dig_output: query mode in bits 0-1, DNSSEC 4, hostname.bind step 8, client
# subnet 16, dig fails 32, raw text 64, no server 128.
DIG_OPTIONS = {
    "dig_nsid": 1, "dig_nsid_root": 1, "dig_hostname_bind": 2, "dig_reverse": 3,
    "dig_client_subnet": 16, "dig_timeout": 32, "dig_connection_refused": 32,
}


def dig_seeds():
    seeds = {}
    for name, text in recordings("dig_").items():
        seeds[name] = bytes([DIG_OPTIONS.get(name, 0)]) + text
    answer = recording("dig_a_answer")
    # delv's whole trace is the business of delv_output; here only what the Dig wrapper takes
    # from delv's result matters, and short inputs keep the target fast.
    for name, lines in (("validated", b"; fully validated\n;; time: 12 ms\n"),
                        ("unsigned", b"; unsigned answer\n"),
                        ("negative", b"; negative response, unsigned answer\n;; time: x\n"),
                        ("failed", b";; resolution failed: SERVFAIL\n")):
        seeds["dnssec_" + name] = bytes([4]) + answer + b"\0" + lines
    seeds["hostname_bind_step"] = (bytes([8]) + recording("dig_authoritative_answer") + b"\0\0" +
                                   recording("dig_hostname_bind"))
    seeds["raw_text"] = bytes([64]) + answer
    seeds["machine_servers"] = bytes([128]) + answer
    seeds["refused_connection_text"] = bytes([0]) + recording("dig_connection_refused")
    for phrase in (b"network unreachable", b"address family not supported", b"connection reset",
                   b"label too long", b"is not a legal", b"Permission denied",
                   b"dig: couldn't get address for 'x': not found"):
        seeds["failure_" + phrase.split()[0].decode().strip(":")] = bytes([32]) + phrase + b"\n"
    return seeds


# Option bytes of ping_output: probe kind in bits 0-2, no in-session fall-back 8, ping-like text
# 16, violation check 32, continuation 64, the tool fails 128.
def ping_seeds():
    seeds = {
        "icmp": bytes([1]) + recording("ping_icmp"),
        "tcp_syn": bytes([2]) + recording("ping_tcp_syn"),
        "timed_out": bytes([1]) + recording("ping_timed_out"),
        "packet_loss": bytes([33]) + recording("ping_packet_loss"),
        "continued": bytes([65]) + recording("ping_packet_loss"),
        "pingified": bytes([17]) + recording("ping_icmp"),
        "tcp_port_54": bytes([2]) + recording("ping_tcp_port_54"),
        "ttl_2": bytes([1]) + recording("ping_ttl_2"),
        "unknown_host": bytes([129]) + recording("ping_unknown_host"),
        "unreachable": bytes([1]) + b"ping to h (192.0.2.1), 128 hops max\n"
                       b"128  192.0.2.1  0.045 ms !H  *  0.006 ms !13 0.1 ms !X\n"
                       b"MSS: 1460\nECN: ok\nDestinationReached: true\nPath MTU\n",
        "other_host": bytes([1]) + b"ping to h (192.0.2.1), 128 hops max\n"
                      b"128  192.0.2.9  0.045 ms  0.050 ms <syn,ack> F=1\nTimedout: true\n",
    }
    phrases = [b"You do not have enough privileges", b"Permission denied",
               b"Address family for hostname not supported", b"connect: Network is unreachable",
               b"TCP SACK not permitted from destination", b"Malformed SACK option",
               b"Unexpected overlap of SACK intervals", b"Cannot complete initial TCP handshake",
               b"Missing SACK options", b"SACK trouble"]
    for index, phrase in enumerate(phrases):
        seeds[f"failure_{index}"] = bytes([128 | 6]) + phrase + b"\n"
    return seeds


def documents(capabilities, settings):
    return [b'{"Capabilities":{%s},"Settings":{%s}}' % (c, s)
            for c, s in zip(capabilities, settings)]


def input_seeds(tool):
    common = [b'', b'{}', b'{"Capabilities":[],"Settings":{}}', b'{"Capabilities":{}}',
              b'{"Capabilities":{},"Settings":{}}\n{"next":1}']
    if tool == "dig":
        docs = documents(
            [b'"test.common.url":"qv-dns-direct://www.lab.test","qv-dns.test.query-type":"a",'
             b'"qv-dns.test.server":"127.53.4.1"',
             b'"test.common.url":"qv-dns-direct://[2001:db8::1]:53/x","qv-dns.test.subnet":'
             b'"10.0.0.0/8","qv-dns.test.nsid":true,"qv-dns.test.enable-dnssec":true',
             b'"qv-dns.test.query-retry-count":9,"qv-dns.test.query-retry-timeout":"x",'
             b'"common.test.max-step-time":5,"qv-dns.test.enable-hostname-bind-mode":true',
             b'"test.common.url":"http://h","qv-dns.test.server":"ns.example.invalid",'
             b'"qv-dns.test.query-type":"ptr","test.common.use-ipv6":true'],
            [b'"Timeout":20,"Tries":2,"EdnsSubnet":"192.0.2.0/24","DebugModeOn":true',
             b'"DnssecServerOverride":"v6.example","Nsid":false,"UseOsIpVersion":true',
             b'"RetryCount":3,"RetryTimeout":500,"Server":"127.53.0.53","Dnssec":1',
             b'"DisableEdns":true,"DisableRecursion":true,"Unknown":null'])
    elif tool == "ping":
        state = (b'{\\"MonitorResults\\":[{\\"StepResults\\":[{\\"Metrics\\":[],\\"OtherData\\":'
                 b'{\\"qv-ping.results.missing-probes\\":2,\\"qv-ping.results.starting-rtt\\":3,'
                 b'\\"qv-ping.results.timeout-count\\":1,\\"qv-ping.results.unreachable-count\\":0,'
                 b'\\"qv-ping.results.duration.ms\\":2500.5,\\"common.results.host.address\\":'
                 b'\\"127.53.5.1\\"},\\"PageResults\\":{}}],\\"OtherData\\":{}}],\\"OtherData\\":{}}')
        docs = documents(
            [b'"test.common.url":"qv-ping://127.53.1.1"',
             b'"test.common.url":"qv-ping-tcp://[::1]:53","test.common.use-ipv6":true',
             b'"test.common.url":"qv-ping-sack://host.example:443/p","common.test.test-id":"t1",'
             b'"qv-ping.test.continuous-ping-spacing":10,"test.common.flag.debug-on-error":true',
             b'"test.common.url":"qv-ping-udp://127.53.5.1","test.common.monitor.state":"%s"' % state,
             b'"test.common.url":"qv-ping-quic://h.invalid","common.test.max-step-time":301'],
            [b'"ProbeSpacing":10,"ProbeTimeout":2,"SimProbes":1',
             b'"HereFactor":5,"NearFactor":5,"LooseMatch":true,"DebugModeOn":false',
             b'"PacketLossThreshold":50,"PacketLossWindowLength":100,"DebugOnError":true',
             b'"ForbidPartialResults":false,"ProbeSpacing":10,"UseOsIpVersion":true',
             b'"NoInSessionTcpFallBack":true,"ProbeTimeout":99'])
    else:
        docs = documents(
            [b'"test.common.url":"qv-dns-exp://www.lab.test","qv-dns.test.query-type":"aaaa"',
             b'"test.common.url":"qv-dns-trace://www.lab.test","qv-dns.test.tld-host-ignore-list":'
             b'"a.test, b.test,,c.test ","qv-dns.test.flag.enable-network-outage-detection":true',
             b'"qv-dns.test.subnet":"10.1.2.3/8","qv-dns.test.dns-via-tcp":true,'
             b'"qv-dns.test.exp-bias-towards-best":true,"qv-dns.test.exp-cache-tld":true',
             b'"test.common.url":"ftp://x","test.common.url":"qv-dns-exp://a:b",'
             b'"qv-dns.test.tld-server-minimum-failure-count":0,"common.test.max-step-time":1'],
            [b'"Tries":2,"Timeout":15,"BiasPercentage":80,"CnameTraversalLimit":5',
             b'"DataDirectory":"/nonexistent","MaxCachedEntries":10,"RootServerCacheTtl":60',
             b'"PingProbesCount":3,"PingProbeTimeout":2,"PingTtl":64,"PingLooseMatch":true,'
             b'"MaxConcurrentPings":2,"EdnsSubnet":"::1/129"',
             b'"Nsid":true,"DisableEdns":true,"DisableRecursion":false,"RetryTimeout":"1"'])
    return {f"document_{index}": doc for index, doc in enumerate(common + docs)}


def cache_file(answers, stats, version=2, answer_count=None, stats_count=None):
    """A storage file: answers are (name, expiration, servers, raw, json), servers are
    (name, type, address bytes, time), stats are (name, duration, timestamp)."""
    data = struct.pack("<HI", version, len(answers) if answer_count is None else answer_count)
    for name, expiration, servers, raw, json in answers:
        data += name + b"\0" + struct.pack("<q", expiration)
        for server, kind, address, time in servers:
            data += server + b"\0" + bytes([kind]) + address + struct.pack("<i", time)
        data += b"\n" + struct.pack("<I", len(raw)) + raw + struct.pack("<I", len(json)) + json
    data += struct.pack("<I", len(stats) if stats_count is None else stats_count)
    for name, duration, timestamp in stats:
        data += name + b"\0" + struct.pack("<iq", duration, timestamp)
    return data


def cache_seeds():
    future, past = 4102444800, 1000
    servers = [(b"a.ns.test.", 2, bytes([192, 0, 2, 1]), 7),
               (b"b.ns.test.", 10, bytes([0x20, 1, 0xd, 0xb8] + [0] * 11 + [0x53]), -1),
               (b"c.ns.test.", 0, b"", 0), (b"d.ns.test.", 7, b"", 5)]
    answers = [(b"lab.test.", future, servers, b"raw text", b'{"a":1}'),
               (b"", future, [], b"", b""), (b"old.test.", past, servers[:1], b"", b"{}"),
               (b"x" * 256, future, [(b"y" * 256, 2, bytes(4), 1)], b"r", b"j")]
    stats = [(b"a.ns.test.", 3, future), (b"b.ns.test.", -1, past), (b"fuzz.test.", 1, 0)]
    return {
        "empty": b"",
        "entries": cache_file(answers, stats),
        "fuzz_names": cache_file([(b"fuzz.test.", future, [], b"", b"")],
                                 [(b"ns.fuzz.test.", 5, future)]),
        "version_1": cache_file([], [], version=1),
        "leftover": cache_file(answers[:1], stats[:1]) + b"\0",
        "line_ends": cache_file(answers[:1], stats).replace(b"lab.test.\0", b"lab.test.\n"),
    }


def text_seeds(lines):
    return {f"text_{index}": line for index, line in enumerate(lines)}


IP_TEXTS = [b"192.0.2.1", b"10.1.2.3/8", b"2001:db8::1/32", b"::1", b"::ffff:192.0.2.1/120",
            b"10.0.0.0/33", b"::/129", b"10.0.0.0/", b"10.0.0.0/8x", b"hostname.example", b"ab",
            b"1.2.3", b"fe80::1%1", b"0.0.0.0/0", b"1234:5678:9abc:def0:1234:5678:9abc:def0/64",
            b"127.53.200.0/24/0", b"1.2.3.4/0008"]
URLS = [b"qv-dns-exp://[2001:db8::1]:5353/x", b"qv-dns-exp://example.com",
        b"qv-dns-exp://example.com:53a", b"qv-ping://127.53.1.1:", b"a://[::1/p]:9",
        b"qv-dns-trace://h:99999999999", b"qv-dns-exp://h:-1", b"no scheme", b"x://h:+5/:6"]
RESOLV = [b"nameserver 192.0.2.53 # office\n# nameserver 192.0.2.9\noptions ndots:2\n",
          b"search lab.test\nnameserver\t127.53.0.53\nnameserver ::1\nnameserver lab.test\n",
          b"nameserver\nnameserver  \n  nameserver 10.0.0.1;x\ndomainnameserver 1.1.1.1\n"]


def dig_results(converter):
    """The step of the dig wrapper result of each dig recording, as JSON bytes, by name."""
    paths = [str(path) for path in RECORDINGS if path.stem.startswith("dig_")]
    lines = subprocess.run([converter] + paths, check=True, capture_output=True).stdout
    return dict(line.split(b"\t", 1) for line in lines.splitlines())


# Option bytes of engine_answer: query type in bits 0-2 (a, aaaa, ns, cname, https, svcb, any,
# ptr), level - 1 in bits 3-4, IPv6 32, traversal 64, earlier levels 128. Answers not named are
# read as the answer to an "a" query at level 4.
ANSWER_OPTIONS = {
    "dig_root_servers": 2, "dig_referral_root": 8, "dig_referral_root_example": 8,
    "dig_nsid_root": 8, "dig_referral_tld": 16, "dig_referral_tld_example": 16,
    "dig_referral_tld_alias": 16, "dig_https_alias": 4 | 24, "dig_https_service": 4 | 24,
    "dig_svcb": 5 | 24, "dig_reverse": 7 | 16, "dig_axfr": 2 | 24,
}


def engine_seeds(steps):
    seeds = {}
    for name, step in steps.items():
        # A zone transfer's thousands of records teach the reader nothing more than a few, and
        # long inputs slow every execution down.
        if len(step) > 4096:
            continue
        options = ANSWER_OPTIONS.get(name.decode(), 24)
        for variant, extra in (("", 0), ("_earlier", 128), ("_traversal", 64)):
            seeds[name.decode() + variant] = bytes([options | extra]) + step
    return seeds


# Option bytes of cached_level: query type in bits 0-1 (a, https, cname, ns), traversal 4, raw
# text 8, hostname.bind 16, no servers 32.
def cached_level_seeds(steps):
    cached = steps[b"dig_referral_tld"]
    seeds = {name: bytes([options]) + cached for name, options in (
        ("referral", 0), ("traversal", 4), ("raw_text", 8), ("hostname_bind", 16),
        ("no_servers", 32))}
    for name, options, answer in (("other_tld_alias", 0, "dig_cname_other_tld"),
                                  ("chain", 0, "dig_cname_chain"),
                                  ("https_alias", 1, "dig_https_alias"),
                                  ("nxdomain", 4, "dig_nxdomain"),
                                  ("ns_answer", 3, "dig_referral_tld")):
        seeds[name] = bytes([options]) + cached + b"\0" + recording(answer)
    for index, text in enumerate((b"[1,2]", b'{"Metrics":{},"OtherData":{}}', b'{"Metrics":[]}',
                                  b'{"Metrics":[{"MetricData":{"qv-dns.results.authority.name":'
                                  b'"lab.test."}}],"OtherData":{"qv-dns.results.duration.ms":'
                                  b'"x"}}')):
        seeds[f"not_a_step_{index}"] = bytes([0]) + text
    return seeds


def main():
    if len(sys.argv) not in (2, 3):
        raise SystemExit(__doc__)
    out = pathlib.Path(sys.argv[1])
    targets = {
        "dig_output": dig_seeds(),
        "delv_output": recordings("delv_"),
        "ping_output": ping_seeds(),
        "dig_input": input_seeds("dig"),
        "ping_input": input_seeds("ping"),
        "dns_experience_input": input_seeds("dns_experience"),
        "cache_storage": cache_seeds(),
        "ip_address": text_seeds(IP_TEXTS),
        "test_url": text_seeds(URLS),
        "resolver_configuration": dict(
            text_seeds(RESOLV), mixed=(ROOT / "tests/data/resolv/mixed.conf").read_bytes()),
    }
    if len(sys.argv) == 3:
        steps = dig_results(sys.argv[2])
        targets["engine_answer"] = engine_seeds(steps)
        targets["cached_level"] = cached_level_seeds(steps)
    for target, seeds in targets.items():
        folder = out / target
        folder.mkdir(parents=True, exist_ok=True)
        for name, data in seeds.items():
            (folder / name).write_bytes(data)


if __name__ == "__main__":
    main()
