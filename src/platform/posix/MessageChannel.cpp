// Linux carries each block as one datagram to an abstract-namespace Unix socket named after the
// receiving process's id. A thread of the library receives and hands the texts over.
#include "platform/MessageChannel.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "platform/DebugOutput.h"
#include "platform/MessageBlock.h"

#include "platform/posix/FileDescriptor.h"

namespace ORBA {
namespace Platform {
namespace {

// A sender must not hang the game forever on a receiver that stopped reading.
constexpr time_t kSendTimeoutSeconds = 5;

struct SocketAddress {
    sockaddr_un address{};
    socklen_t length = 0;
};

// The name starts with a NUL: an abstract name, which leaves no file behind and vanishes with
// the socket.
SocketAddress receiverAddress(std::uint32_t processId) {
    const std::string name = "orba-ipc-" + std::to_string(processId);
    SocketAddress result;
    result.address.sun_family = AF_UNIX;
    std::memcpy(result.address.sun_path + 1, name.data(), name.size());
    result.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    return result;
}

class Receiver {
public:
    ~Receiver() { stop(); }

    bool start() {
        FileDescriptor socket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        if (!socket.valid()) return false;
        const SocketAddress address = receiverAddress(static_cast<std::uint32_t>(::getpid()));
        if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address.address),
                   address.length) != 0) {
            return false;
        }
        // Abstract names carry no file permissions; the sender's credentials tell who it is.
        const int on = 1;
        if (::setsockopt(socket.get(), SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0) return false;
        socket_.reset(socket.release());
        stopping_ = false;
        try {
            thread_ = std::make_unique<std::thread>([this] { run(); });
        } catch (...) {
            socket_.reset();
            return false;
        }
        ownerProcess_ = ::getpid();
        return true;
    }

    void stop() {
        if (!thread_) return;
        if (::getpid() != ownerProcess_) {
            // A forked child copied the thread's handle but not the thread.
            static_cast<void>(thread_.release());
            socket_.reset();
            return;
        }
        stopping_ = true;
        ::shutdown(socket_.get(), SHUT_RDWR);  // wakes the thread from its receive
        thread_->join();
        thread_.reset();
        socket_.reset();
    }

private:
    void run() {
        MessageBlock block;  // on the stack: nothing in this thread may fail to allocate
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
        for (;;) {
            iovec part{block.data(), block.size()};
            msghdr message{};
            message.msg_iov = &part;
            message.msg_iovlen = 1;
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            const ssize_t received = ::recvmsg(socket_.get(), &message, MSG_CMSG_CLOEXEC);
            if (stopping_) return;
            if (received < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (!fromSameUser(message)) {
                writeDebugOutputNarrow("ipc text from another user dropped\n");
                continue;
            }
            // A longer datagram arrives cut to the block; the text ends at the block's end then.
            deliverMessageBlock(block.data(), static_cast<std::size_t>(received));
        }
    }

    static bool fromSameUser(msghdr& message) {
        for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
             header = CMSG_NXTHDR(&message, header)) {
            if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_CREDENTIALS) {
                ucred credentials;
                std::memcpy(&credentials, CMSG_DATA(header), sizeof credentials);
                return credentials.uid == ::geteuid();
            }
        }
        return false;
    }

    FileDescriptor socket_;
    std::unique_ptr<std::thread> thread_;
    pid_t ownerProcess_ = 0;
    std::atomic<bool> stopping_{false};
};

// Made by the first install, after the channel's state, so it stops before the callback goes.
Receiver* receiver() {
    static Receiver instance;
    return &instance;
}

bool installed = false;

}  // namespace

bool installMessageReceiver() {
    if (installed) return true;
    installed = receiver()->start();
    return installed;
}

void removeMessageReceiver() {
    if (!installed) return;
    receiver()->stop();
    installed = false;
}

void sendMessageBlock(std::uint32_t processId, const char* data, std::size_t size) {
    FileDescriptor socket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!socket.valid()) return;
    const timeval timeout{kSendTimeoutSeconds, 0};
    ::setsockopt(socket.get(), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    const SocketAddress address = receiverAddress(processId);
    // ECONNREFUSED (no receiver) and a full queue past the timeout both end here, unreported.
    static_cast<void>(::sendto(socket.get(), data, size, MSG_NOSIGNAL,
                               reinterpret_cast<const sockaddr*>(&address.address),
                               address.length));
}

}  // namespace Platform
}  // namespace ORBA
