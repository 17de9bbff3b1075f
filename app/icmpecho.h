#pragma once
// One ICMP echo request through an unprivileged ICMP datagram socket, the reachability check the
// main window makes once after start.
#include <QString>

namespace tessarin {

// Resolves `host`, sends one echo request and waits up to `timeoutMs` for the reply. True when
// the request went out (whether a reply came or the wait timed out); false with the reason in
// `why` when the host cannot be resolved or the socket cannot be opened, set up or written.
bool SendIcmpEcho(const QString &host, int timeoutMs, QString *why = nullptr);

} // namespace tessarin
