#!/usr/bin/env bash
# The short fault soak among the lab tests: four rounds of eight concurrent dns_experience runs
# over one cache file, some stopped by SIGTERM (tests/soak/soak.cpp says what each round checks;
# `make soak` runs as many rounds as asked).
source "$(dirname "$0")/common.bash"
lab_up
in_lab "${NT_BINARY_DIR:-$SOURCE_DIR/build/bin}/soak" --rounds 4
