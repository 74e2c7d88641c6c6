#pragma once
// The owner of one file descriptor: closed when the owner goes, moved, never copied.
//
// Threads: whichever thread owns the object.

#include <unistd.h>

#include <utility>

namespace korv::os_linux {

class UniqueFd {
  public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    [[nodiscard]] bool Valid() const { return fd_ >= 0; }
    [[nodiscard]] int Get() const { return fd_; }
    // Closes the descriptor now; false when close reported an error (a write-back that failed).
    bool Reset() {
        if (fd_ < 0)
            return true;
        return close(std::exchange(fd_, -1)) == 0;
    }

  private:
    int fd_;
};

}  // namespace korv::os_linux
