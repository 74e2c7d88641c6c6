#pragma once
// A bus service run as another program runs it: on a thread of its own, with its own main loop
// and its own connection to the bus at `address`. The thread ends, and the service with it,
// when the ServiceThread is destroyed.

#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "platform/fake/fake_system.h"
#include "platform/linux/linux_bus.h"

namespace korv::testing {

class ServiceThread {
  public:
    // Puts the service on the bus on the thread; what it returns keeps the service there until
    // the thread ends. Null: the service could not start.
    using Start = std::function<std::shared_ptr<void>(os_linux::LinuxBus& bus)>;

    ServiceThread(const std::string& address, Start start) {
        std::promise<os_linux::LinuxMainLoop*> ready;
        std::future<os_linux::LinuxMainLoop*> started = ready.get_future();
        thread_ = std::thread([address, &start, &ready] {
            os_linux::LinuxMainLoop loop;
            fake::RecordingDebugOutput debug;
            const auto bus =
                os_linux::LinuxBus::Attach(os_linux::ConnectSessionBus(address), loop, debug);
            const std::shared_ptr<void> service = bus ? start(*bus) : nullptr;
            if (!service) {
                ready.set_value(nullptr);
                return;
            }
            ready.set_value(&loop);
            loop.Run();
        });
        loop_ = started.get();
    }
    ~ServiceThread() {
        if (loop_ != nullptr)
            loop_->Quit(0);
        thread_.join();
    }
    ServiceThread(const ServiceThread&) = delete;
    ServiceThread& operator=(const ServiceThread&) = delete;

    [[nodiscard]] bool Running() const { return loop_ != nullptr; }

  private:
    std::thread thread_;
    os_linux::LinuxMainLoop* loop_ = nullptr;
};

}  // namespace korv::testing
