#include "icmpecho.h"

#include <QByteArray>

#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/ip_icmp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace tessarin {

namespace {

bool fail(QString *why, const QString &what)
{
    if (why)
        *why = what;
    return false;
}

class Socket
{
public:
    explicit Socket(int fd)
        : m_fd(fd)
    {}
    ~Socket()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    Socket(const Socket &) = delete;
    Socket &operator=(const Socket &) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

} // namespace

bool SendIcmpEcho(const QString &host, int timeoutMs, QString *why)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_RAW;
    addrinfo *found = nullptr;
    const QByteArray name = host.toUtf8();
    const int rc = getaddrinfo(name.constData(), nullptr, &hints, &found);
    if (rc != 0 || !found)
        return fail(why, QStringLiteral("%1: cannot resolve: %2").arg(host, gai_strerror(rc)));
    sockaddr_in target{};
    std::memcpy(&target, found->ai_addr, sizeof target);
    freeaddrinfo(found);

    // The kernel fills in the identifier and the checksum of a datagram ICMP socket; the
    // socket is refused unless the user's group is in net.ipv4.ping_group_range.
    const Socket socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP));
    if (socket.fd() < 0)
        return fail(why, QStringLiteral("ICMP socket: %1").arg(strerror(errno)));
    timeval timeout{};
    timeout.tv_sec = timeoutMs / 1000;
    timeout.tv_usec = (timeoutMs % 1000) * 1000;
    if (setsockopt(socket.fd(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0)
        return fail(why, QStringLiteral("ICMP receive timeout: %1").arg(strerror(errno)));

    icmphdr request{};
    request.type = ICMP_ECHO;
    request.un.echo.sequence = htons(1);
    if (sendto(socket.fd(),
               &request,
               sizeof request,
               0,
               reinterpret_cast<sockaddr *>(&target),
               sizeof target)
        < 0)
        return fail(why, QStringLiteral("ICMP echo to %1: %2").arg(host, strerror(errno)));

    char reply[192];
    // A reply or the timeout both end the wait; which one it was does not matter. Anything
    // else the socket reports is an error.
    if (recv(socket.fd(), reply, sizeof reply, 0) < 0 && errno != EAGAIN && errno != EWOULDBLOCK
        && errno != EINTR)
        return fail(why, QStringLiteral("ICMP reply from %1: %2").arg(host, strerror(errno)));
    return true;
}

} // namespace tessarin
