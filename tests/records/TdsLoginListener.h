#pragma once

// A listener on loopback that speaks just enough of SQL Server's TDS protocol to receive
// the login a client sends: it answers the pre-login (no encryption), decodes the LOGIN7
// record (user, password, database, server) and then closes the connection. It runs on a
// thread of its own because the client's connect blocks the test's thread.

#include <QByteArray>
#include <QString>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
// Winsock under the BSD names this listener uses; WSAStartup once per process.
using ssize_t = long long;
#define SHUT_RDWR SD_BOTH
#define MSG_NOSIGNAL 0
namespace tds_socket {
inline int close(SOCKET s)
{
    return ::closesocket(s);
}
inline bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}();
} // namespace tds_socket
#define TDS_CLOSE tds_socket::close
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#define TDS_CLOSE ::close
#endif

#include <thread>

class TdsLoginListener
{
public:
    struct Login
    {
        bool received = false;
        QString user, password, database, server;
    };

    TdsLoginListener()
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        if (m_listen < 0 ||
            ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(m_listen, 1) != 0)
            return;
        socklen_t length = sizeof address;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serveOne(); });
    }
    ~TdsLoginListener()
    {
        stop();
        TDS_CLOSE(m_listen);
    }
    TdsLoginListener(const TdsLoginListener&) = delete;
    TdsLoginListener& operator=(const TdsLoginListener&) = delete;

    quint16 port() const { return m_port; }
    // What arrived, once the client's open has returned: no further client is taken.
    const Login& finish()
    {
        stop();
        return m_login;
    }

    void stop()
    {
        if (!m_thread.joinable())
            return;
        // Shutting the listening socket down ends a waiting accept() on Linux, not on
        // Windows: a connection that sends nothing ends it everywhere.
        const auto wake = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(m_port);
        ::connect(wake, reinterpret_cast<sockaddr*>(&address), sizeof address);
        TDS_CLOSE(wake);
        ::shutdown(m_listen, SHUT_RDWR);
        m_thread.join();
    }

    // One TDS message: packets up to the one marked end-of-message.
    static bool readMessage(int fd, quint8& type, QByteArray& payload)
    {
        payload.clear();
        for (;;) {
            unsigned char header[8];
            if (!readExactly(fd, header, 8))
                return false;
            type = header[0];
            const int length = (header[2] << 8) | header[3];
            if (length < 8)
                return false;
            QByteArray part(length - 8, Qt::Uninitialized);
            if (!readExactly(fd, part.data(), part.size()))
                return false;
            payload += part;
            if (header[1] & 0x01)
                return true;
        }
    }
    static bool readExactly(int fd, void* into, qsizetype size)
    {
        char* at = static_cast<char*>(into);
        while (size > 0) {
            const ssize_t n = ::recv(fd, at, int(size), 0);
            if (n <= 0)
                return false;
            at += n;
            size -= n;
        }
        return true;
    }
    static quint16 le16(const QByteArray& bytes, int at)
    {
        return quint16(quint8(bytes[at]) | (quint8(bytes[at + 1]) << 8));
    }
    // A LOGIN7 string: offset and length in characters at the given place of the record.
    static QString text(const QByteArray& login, int place, bool password = false)
    {
        const int offset = le16(login, place), characters = le16(login, place + 2);
        QByteArray bytes = login.mid(offset, characters * 2);
        if (password) {
            // Each byte was nibble-swapped, then XORed with 0xA5.
            for (char& c : bytes) {
                const quint8 x = quint8(c) ^ 0xA5;
                c = char(quint8((x << 4) | (x >> 4)));
            }
        }
        return QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData()),
                                  bytes.size() / 2);
    }

private:
    void serveOne()
    {
        const int fd = ::accept(m_listen, nullptr, nullptr);
        if (fd < 0)
            return;
        quint8 type = 0;
        QByteArray payload;
        if (readMessage(fd, type, payload) && type == 0x12) {
            // Pre-login answer: version 15.0, encryption not supported.
            const unsigned char answer[] = {0x04, 0x01, 0x00, 8 + 18, 0,    0, 1,
                                            0,    0x00, 0x00, 11,     0x00, 6, // VERSION
                                            0x01, 0x00, 17,   0x00,   1,       // ENCRYPTION
                                            0xFF,                              // end of options
                                            15,   0,    0,    0,      0,    0, // version, sub-build
                                            0x02};                             // ENCRYPT_NOT_SUP
            ::send(fd, reinterpret_cast<const char*>(answer), sizeof answer, MSG_NOSIGNAL);
            if (readMessage(fd, type, payload) && type == 0x10 && payload.size() >= 94) {
                m_login.received = true;
                m_login.user = text(payload, 40);
                m_login.password = text(payload, 44, true);
                m_login.server = text(payload, 52);
                m_login.database = text(payload, 68);
            }
        }
        TDS_CLOSE(fd);
    }

    int m_listen = -1;
    quint16 m_port = 0;
    std::thread m_thread;
    Login m_login;
};
