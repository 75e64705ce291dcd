#!/usr/bin/env bash
# Runs the packet truth check in the lab: tests/truth/run.sh BINARY_DIR [RUNS]
# (the lab is brought up when it is not; DNSLAB_NAME selects the lab, as for lab/dnslab).
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
"$source_dir/native/install"
"$source_dir/lab/dnslab" up >/dev/null
exec "$source_dir/lab/dnslab" exec "$1/packet_truth" --runs "${2:-240}"
