#!/usr/bin/env bash
# Runs a command in a network namespace of its own with only loopback up, so test runs
# side by side on one machine never see each other's xAP broadcasts on 127.0.0.1:3639,
# and nothing a test sends can leave the machine. Where namespaces are not available
# (no privilege, no iproute2), the command runs as it is.
set -euo pipefail
if [ -z "${KORVANE_NO_NETNS:-}" ] && command -v unshare >/dev/null && command -v ip >/dev/null \
   && unshare -n ip link set lo up 2>/dev/null; then
  exec unshare -n bash -c 'ip link set lo up && exec "$@"' isolated "$@"
fi
exec "$@"
