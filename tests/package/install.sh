#!/usr/bin/env bash
# Installs the Debian package made by packaging/deb with dpkg into a throw-away root with its own
# package database, so that the machine's /usr and its package list stay as they are; runs the
# installed tools, reads the installed manual pages and completion, and purges the package again.
# apt checks, without installing anything, that the package's dependencies resolve here.
source "$(dirname "$0")/../lab/common.bash"
readonly BINARY_DIR=${NT_BINARY_DIR:-$SOURCE_DIR/build/bin}
debs=("$BINARY_DIR"/../package/*.deb)
DEB=$(realpath "${debs[0]}")
VERSION=$(dpkg-deb -f "$DEB" Version)
readonly DEB VERSION
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

capture apt-get -s install "$DEB"
expect_status "$status" 0 "dependencies of the package on this machine"

mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
# The throw-away database knows nothing of the libraries installed on the machine.
capture dpkg --root="$root" --log=/dev/null --force-depends -i "$DEB"
expect_status "$status" 0 "dpkg -i into $root"

# The installed tools run and say who they are; their help is the one that was built.
while read -r tool first_line; do
  capture "$root/usr/bin/$tool" -V
  expect_status "$status" 0 "installed $tool -V"
  expect_equal "${output%%$'\n'*}" "$first_line $VERSION for Linux" "installed $tool -V"
  expect_equal "$("$root/usr/bin/$tool" -h)" "$("$BINARY_DIR/$tool" -h)" "installed $tool -h"
done <<'TOOLS'
dns_experience DnsExperience wrapper
dig_wrapper    Dig wrapper
ping_wrapper   Ping wrapper
dns_experience_view DnsExperience viewer
TOOLS

# Every installed tool has a page that reads without a warning from man and has every section, in
# order, and a completion that bash-completion finds under the tool's name.
readonly SECTIONS='NAME SYNOPSIS DESCRIPTION OPTIONS RESULT DOCUMENT EXIT STATUS FILES EXAMPLES SEE ALSO'
for binary in "$root"/usr/bin/*; do
  tool=${binary##*/}
  page=$root/usr/share/man/man1/$tool.1.gz
  expect_equal "$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)" "" "warnings of man -l $page"
  expect_equal "$(MANWIDTH=80 man -l "$page" | grep -E '^[A-Z]' | sed 1d | xargs)" "$SECTIONS" \
    "sections of $page"
  expect_equal "$(bash -c 'source "$1" && complete -p "$2"' completion \
    "$root/usr/share/bash-completion/completions/$tool" "$tool")" \
    "complete -F _network_tools $tool" "installed completion of $tool"
done

# The schemas and the guide to the documents come along.
for file in share/dns-experience/schema/dns_experience.schema.json share/doc/dns-experience/results.md; do
  checks=$((checks + 1))
  [[ -s $root/usr/$file ]] || fail "installed /usr/$file"
done

capture dpkg --root="$root" --log=/dev/null --purge dns-experience
expect_status "$status" 0 "dpkg --purge"
expect_equal "$(find "$root" -path "$root/var" -prune -o ! -type d -print)" "" "files left by the purge"

finish
