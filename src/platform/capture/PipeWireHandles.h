#pragma once

#include <pipewire/pipewire.h>

#include <fcntl.h>
#include <unistd.h>

#include <memory>
#include <utility>

// Owners of the PipeWire objects a screen stream is built from. The thread
// loop must be stopped before any of the others is released.
struct PwThreadLoopDestroy {
    void operator()(pw_thread_loop *loop) const { pw_thread_loop_destroy(loop); }
};
struct PwContextDestroy {
    void operator()(pw_context *context) const { pw_context_destroy(context); }
};
struct PwCoreDisconnect {
    void operator()(pw_core *core) const { pw_core_disconnect(core); }
};
struct PwRegistryDestroy {
    void operator()(pw_registry *registry) const { pw_proxy_destroy(reinterpret_cast<pw_proxy *>(registry)); }
};
struct PwStreamDestroy {
    void operator()(pw_stream *stream) const { pw_stream_destroy(stream); }
};
using PwThreadLoop = std::unique_ptr<pw_thread_loop, PwThreadLoopDestroy>;
using PwContext = std::unique_ptr<pw_context, PwContextDestroy>;
using PwCore = std::unique_ptr<pw_core, PwCoreDisconnect>;
using PwRegistry = std::unique_ptr<pw_registry, PwRegistryDestroy>;
using PwStream = std::unique_ptr<pw_stream, PwStreamDestroy>;

// Holds the thread loop's lock for one scope.
class PwLoopLock {
public:
    explicit PwLoopLock(pw_thread_loop *loop) : m_loop(loop) { pw_thread_loop_lock(m_loop); }
    ~PwLoopLock() { pw_thread_loop_unlock(m_loop); }
    PwLoopLock(const PwLoopLock &) = delete;
    PwLoopLock &operator=(const PwLoopLock &) = delete;

private:
    pw_thread_loop *m_loop;
};

// A file descriptor closed when its owner goes.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(UniqueFd &&other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    UniqueFd &operator=(UniqueFd &&other) noexcept
    {
        if (this != &other)
            reset(std::exchange(other.m_fd, -1));
        return *this;
    }
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release() { return std::exchange(m_fd, -1); }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }
    // A second descriptor for the same file (invalid if that fails).
    UniqueFd duplicate() const { return UniqueFd(m_fd >= 0 ? ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0) : -1); }

private:
    int m_fd = -1;
};
