#!/bin/sh
# Runs the command in a network namespace of its own where unprivileged ICMP datagram sockets
# are allowed and loopback is up; runs it unchanged where no namespace can be made (the test
# then says which path it saw).
if unshare -n true 2>/dev/null; then
  exec unshare -n sh -c '
    ip link set lo up 2>/dev/null || echo "inownnetwork: loopback not brought up" >&2
    echo "0 2147483647" > /proc/sys/net/ipv4/ping_group_range 2>/dev/null \
      || echo "inownnetwork: ICMP sockets not allowed" >&2
    exec "$@"' sh "$@"
fi
exec "$@"
