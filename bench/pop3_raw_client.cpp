// The practical limit for fetching a mailbox: log in, then send every RETR at
// once and count the replies' terminators as the bytes stream in.
//   pop3_raw_client HOST PORT USER PASSWORD [stls|pop3s CA_FILE]
// stls: plain greeting, then STLS and TLS before USER; pop3s: TLS from the start.
// Output: "<messages> messages, <bytes> bytes".
#include <arpa/inet.h>
#include <netdb.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <utility>
#include <vector>

namespace {

[[noreturn]] void die(const char *what)
{
    std::fprintf(stderr, "pop3_raw_client: %s\n", what);
    std::exit(1);
}

struct Connection {
    int fd = -1;
    SSL *tls = nullptr;

    // > 0 bytes moved, 0 would block, dies on errors and end of stream.
    long transfer(void *buffer, std::size_t size, bool write)
    {
        if (tls) {
            const int n = write ? SSL_write(tls, buffer, static_cast<int>(size)) : SSL_read(tls, buffer, static_cast<int>(size));
            if (n > 0)
                return n;
            const int error = SSL_get_error(tls, n);
            if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE)
                return 0;
            char detail[256];
            std::snprintf(detail, sizeof detail, "TLS error %d, errno %d, %s", error, errno,
                          ERR_error_string(ERR_get_error(), nullptr));
            die(detail);
        }
        const long n = write ? ::send(fd, buffer, size, MSG_NOSIGNAL) : ::recv(fd, buffer, size, 0);
        if (n > 0)
            return n;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return 0;
        die("socket error or end of stream");
    }

    void wait(bool forWrite)
    {
        pollfd p{fd, static_cast<short>(forWrite ? POLLIN | POLLOUT : POLLIN), 0};
        if (::poll(&p, 1, 20000) <= 0)
            die("timed out");
    }
};

std::string pending;

std::string readLine(Connection &c, std::vector<char> &buffer)
{
    for (;;) {
        const std::size_t end = pending.find('\n');
        if (end != std::string::npos) {
            std::string line = pending.substr(0, end + 1);
            pending.erase(0, end + 1);
            return line;
        }
        const long n = c.transfer(buffer.data(), buffer.size(), false);
        if (n == 0)
            c.wait(false);
        else
            pending.append(buffer.data(), static_cast<std::size_t>(n));
    }
}

std::string command(Connection &c, std::vector<char> &buffer, const std::string &line)
{
    std::string out = line + "\r\n";
    for (std::size_t sent = 0; sent < out.size();) {
        const long n = c.transfer(out.data() + sent, out.size() - sent, true);
        if (n == 0)
            c.wait(true);
        sent += static_cast<std::size_t>(n);
    }
    std::string reply = readLine(c, buffer);
    if (reply.rfind("+OK", 0) != 0)
        die(("server said: " + reply).c_str());
    return reply;
}

void startTls(Connection &c, const char *caFile)
{
    SSL_CTX *context = SSL_CTX_new(TLS_client_method());
    if (SSL_CTX_load_verify_locations(context, caFile, nullptr) != 1)
        die("cannot read the CA file");
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    c.tls = SSL_new(context);
    SSL_set_fd(c.tls, c.fd);
    SSL_set_mode(c.tls, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    if (SSL_connect(c.tls) != 1)
        die("TLS handshake failed");
}

} // namespace

int main(int argc, char **argv)
{
    const std::string mode = argc > 5 ? argv[5] : "plain";
    if (argc != 5 && !(argc == 7 && (mode == "stls" || mode == "pop3s")))
        die("usage: HOST PORT USER PASSWORD [stls|pop3s CA_FILE]");
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *address = nullptr;
    if (getaddrinfo(argv[1], argv[2], &hints, &address) != 0)
        die("host not found");
    Connection c;
    c.fd = socket(address->ai_family, SOCK_STREAM, 0);
    if (c.fd < 0 || connect(c.fd, address->ai_addr, address->ai_addrlen) != 0)
        die("cannot connect");
    freeaddrinfo(address);
    // The socket blocks until TLS is up: the handshake then needs no loop of its own.
    std::vector<char> buffer(1 << 20);
    if (mode == "pop3s")
        startTls(c, argv[6]);
    if (readLine(c, buffer).rfind("+OK", 0) != 0)
        die("no greeting");
    if (mode == "stls") {
        command(c, buffer, "STLS");
        if (!pending.empty())
            die("data after the STLS reply");
        startTls(c, argv[6]);
    }
    fcntl(c.fd, F_SETFL, fcntl(c.fd, F_GETFL) | O_NONBLOCK);
    command(c, buffer, std::string("USER ") + argv[3]);
    command(c, buffer, std::string("PASS ") + argv[4]);
    const long count = std::strtol(command(c, buffer, "STAT").c_str() + 4, nullptr, 10);

    std::string requests;
    for (long k = 1; k <= count; ++k)
        requests += "RETR " + std::to_string(k) + "\r\n";

    // Replies are counted by their terminator; a 4-byte tail carries it across reads.
    long done = 0;
    long long bytes = static_cast<long long>(pending.size());
    std::string window = std::exchange(pending, {});
    std::size_t sent = 0;
    auto countTerminators = [&](const char *data, std::size_t size) {
        window.append(data, size);
        for (const char *p = window.data(), *end = window.data() + window.size();
             (p = static_cast<const char *>(memmem(p, static_cast<std::size_t>(end - p), "\r\n.\r\n", 5)));
             p += 3)
            ++done;
        window.erase(0, window.size() > 4 ? window.size() - 4 : 0);
    };
    countTerminators("", 0);
    while (done < count) {
        bool moved = false;
        if (sent < requests.size()) {
            const long n = c.transfer(requests.data() + sent, requests.size() - sent, true);
            sent += static_cast<std::size_t>(n);
            moved |= n > 0;
        }
        const long n = c.transfer(buffer.data(), buffer.size(), false);
        if (n > 0) {
            bytes += n;
            countTerminators(buffer.data(), static_cast<std::size_t>(n));
            moved = true;
        }
        if (!moved)
            c.wait(sent < requests.size());
    }
    // QUIT waits for the last reply: sent behind the RETRs, Dovecot's TLS proxy
    // sometimes closes the session before the end of its output reaches us.
    command(c, buffer, "QUIT");
    std::printf("%ld messages, %lld bytes\n", done, bytes);
    close(c.fd);
    return 0;
}
