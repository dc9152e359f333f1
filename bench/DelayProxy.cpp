// orba_delay_proxy: a TCP forwarder that holds every chunk it reads for a fixed time before passing
// it on, in both directions and in order, so that a loopback server looks like one a round trip
// of twice that time away. Stands in for a network emulator where none is available.
//
// Usage: orba_delay_proxy --target PORT [--delay-ms N] [--port PORT]
// Listens on 127.0.0.1 (port 0 picks a free one), prints {"listening":PORT} once it accepts
// connections, and runs until killed.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

struct Chunk {
    Clock::time_point due;
    std::string bytes;  // empty: the sender closed its side
};

// One direction of one connection: a reader that stamps what it reads and a writer that passes
// each chunk on when its time has come. The writer never waits for the reader, so a chunk read
// while an earlier one is held is not delayed twice.
class Direction {
public:
    Direction(int from, int to, Clock::duration delay) : from_(from), to_(to), delay_(delay) {}

    void run() {
        std::thread writer([this] { write(); });
        read();
        writer.join();
    }

private:
    void read() {
        char buffer[65536];
        for (;;) {
            const ssize_t got = ::recv(from_, buffer, sizeof buffer, 0);
            if (got < 0 && errno == EINTR) continue;
            const Clock::time_point due = Clock::now() + delay_;
            std::lock_guard<std::mutex> lock(mutex_);
            queue_.push_back({due, got > 0 ? std::string(buffer, static_cast<size_t>(got)) : ""});
            ready_.notify_one();
            if (got <= 0) return;
        }
    }

    void write() {
        for (;;) {
            Chunk chunk;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                ready_.wait(lock, [this] { return !queue_.empty(); });
                chunk = std::move(queue_.front());
                queue_.pop_front();
            }
            std::this_thread::sleep_until(chunk.due);
            if (chunk.bytes.empty()) {
                ::shutdown(to_, SHUT_WR);
                return;
            }
            const char* data = chunk.bytes.data();
            size_t left = chunk.bytes.size();
            while (left > 0) {
                const ssize_t sent = ::send(to_, data, left, MSG_NOSIGNAL);
                if (sent < 0 && errno == EINTR) continue;
                if (sent <= 0) {
                    // The receiver is gone: stop reading from the sender too.
                    ::shutdown(from_, SHUT_RD);
                    drain();
                    return;
                }
                data += sent;
                left -= static_cast<size_t>(sent);
            }
        }
    }

    // Lets the reader finish after the writer gave up.
    void drain() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            ready_.wait(lock, [this] { return !queue_.empty(); });
            const bool ended = queue_.back().bytes.empty();
            queue_.clear();
            if (ended) return;
        }
    }

    int from_;
    int to_;
    Clock::duration delay_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Chunk> queue_;
};

void setNoDelay(int fd) {
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

int connectTo(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void serve(int client, int targetPort, Clock::duration delay) {
    // The connection to the server is made at once; the client's first bytes are held anyway, so
    // the handshake still costs its round trips.
    const int server = connectTo(targetPort);
    if (server < 0) {
        ::close(client);
        return;
    }
    setNoDelay(client);
    setNoDelay(server);
    Direction up(client, server, delay);
    Direction down(server, client, delay);
    std::thread upThread([&up] { up.run(); });
    down.run();
    upThread.join();
    ::close(client);
    ::close(server);
}

bool readNumber(const char* text, long& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text, &end, 10);
    return errno == 0 && end != text && *end == '\0' && value >= 0;
}

}  // namespace

int main(int argc, char** argv) {
    long targetPort = 0;
    long delayMs = 5;
    long port = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        long* value = option == "--target"     ? &targetPort
                      : option == "--delay-ms" ? &delayMs
                      : option == "--port"     ? &port
                                               : nullptr;
        if (value == nullptr || !readNumber(argv[i + 1], *value)) {
            std::fprintf(stderr, "orba_delay_proxy: bad option %s\n", argv[i]);
            return 2;
        }
    }
    if (argc % 2 == 0 || targetPort <= 0 || targetPort > 65535 || port > 65535) {
        std::fprintf(stderr, "usage: %s --target PORT [--delay-ms N] [--port PORT]\n", argv[0]);
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);

    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener, 64) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("orba_delay_proxy: cannot listen");
        return 1;
    }
    std::printf("{\"listening\":%d}\n", ntohs(address.sin_port));
    std::fflush(stdout);

    const Clock::duration delay = std::chrono::milliseconds(delayMs);
    for (;;) {
        const int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            std::perror("orba_delay_proxy: accept");
            return 1;
        }
        std::thread(serve, client, static_cast<int>(targetPort), delay).detach();
    }
}
