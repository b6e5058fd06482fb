#!/usr/bin/env bash
# Runs a command in a network namespace of its own with only a loopback
# interface, for tests of the broadcast on its fixed TCP port 8080: another
# test run on the same machine (or a real Framory) may hold that port, and
# inside the namespace the port is always the test's own. Where namespaces
# cannot be made (no privilege), the command runs as it is.
#
#   own-network.sh command [args...]
set -u
if unshare -n -- true 2>/dev/null; then
  exec unshare -n -- sh -c 'ip link set lo up && exec "$@"' own-network "$@"
fi
exec "$@"
