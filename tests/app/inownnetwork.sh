#!/bin/sh
# Runs the command in a network namespace of its own where unprivileged ICMP datagram sockets
# are allowed and loopback is up; runs it unchanged where no namespace can be made.
if unshare -n true 2>/dev/null; then
  exec unshare -n sh -c 'ip link set lo up && echo "0 2147483647" > /proc/sys/net/ipv4/ping_group_range && exec "$@"' sh "$@"
fi
exec "$@"
