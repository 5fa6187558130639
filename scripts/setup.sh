#!/usr/bin/env bash
# Installs what building, running and testing need on a Debian 12 machine (run as root).
# Idempotent: quiet, and touches nothing, when every package is already there.
set -euo pipefail

packages=(
  g++ clang libclang-rt-14-dev clang-format cmake ninja-build pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev
  sqlite3 libsqlite3-dev libcurl4-openssl-dev libcli11-dev libtoml11-dev libnl-route-3-dev
  # interop tests: a real PTP peer, a dissector, an SNMP manager and agent, namespaces
  linuxptp tshark snmpd snmp snmptrapd libsnmp-dev iproute2
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# tshark asks whether non-root users may capture; answer it up front.
echo 'wireshark-common wireshark-common/install-setuid boolean false' | debconf-set-selections
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
