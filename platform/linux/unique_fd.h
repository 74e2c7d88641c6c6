#pragma once
// The owner of one file descriptor: closed when the owner is destroyed or given another, never
// copied. Every descriptor of the Linux backends lives in one of these, so that no error path
// closes by hand.
//
// Threads: an owner is used by one thread at a time; Get may be called by any thread while the
// owner lives and is not reset.

#include <unistd.h>

#include <utility>

namespace korv::os_linux {

class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other)
            Reset(std::exchange(other.fd_, -1));
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    [[nodiscard]] int Get() const { return fd_; }
    [[nodiscard]] bool Valid() const { return fd_ >= 0; }
    explicit operator bool() const { return Valid(); }

    // Closes the descriptor held and takes `fd`. False when the close reported an error (a
    // write-back that failed), which a writer that must know its data reached the disk checks.
    bool Reset(int fd = -1) {
        const bool closed = fd_ < 0 || ::close(fd_) == 0;
        fd_ = fd;
        return closed;
    }

  private:
    int fd_ = -1;
};

}  // namespace korv::os_linux
