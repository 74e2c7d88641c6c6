#pragma once
// Device notifications for the core's tests: a test delivers device-change events to the live
// registrations, and sees what was registered, posted and unregistered. Main thread only.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ports/device_notifications.h"

namespace korv::fake {

class FakeDeviceNotifications : public DeviceNotifications {
  public:
    [[nodiscard]] std::unique_ptr<DeviceNotificationRegistration> Register(
        std::u16string_view interface_class, DeviceChangeListener& listener) override {
        if (!creates_window) {
            return nullptr;
        }
        registered_classes.emplace_back(interface_class);
        return std::make_unique<Registration>(*this, listener);
    }

    // A message to every live registration that the platform accepted, as it would send it.
    void Deliver(std::uint32_t event, std::optional<std::uint32_t> device_type) {
        for (Registration* registration : std::vector(registrations_)) {
            if (registration->Registered()) {
                registration->listener().OnDeviceChange(event, device_type);
            }
        }
    }
    void Deliver(DeviceChangeEvent event, std::optional<std::uint32_t> device_type) {
        Deliver(static_cast<std::uint32_t>(event), device_type);
    }
    // Delivers the NodesChanged events that registrations posted to their own windows (accepted
    // or not); returns how many.
    int DeliverPosted() {
        int count = 0;
        for (Registration* registration : std::vector(registrations_)) {
            for (int n = std::exchange(registration->posted, 0); n > 0; --n, ++count) {
                registration->listener().OnDeviceChange(
                    static_cast<std::uint32_t>(DeviceChangeEvent::NodesChanged), std::nullopt);
            }
        }
        return count;
    }

    [[nodiscard]] std::size_t LiveRegistrations() const { return registrations_.size(); }

    bool creates_window = true;   // false: Register returns null
    bool accepts_request = true;  // what Registered() answers
    std::vector<std::u16string> registered_classes;
    int nodes_changed_posts = 0;  // PostNodesChanged calls, ever
    int unregistrations = 0;

  private:
    class Registration : public DeviceNotificationRegistration {
      public:
        Registration(FakeDeviceNotifications& owner, DeviceChangeListener& listener)
            : owner_(owner), listener_(listener), accepted_(owner.accepts_request) {
            owner_.registrations_.push_back(this);
        }
        ~Registration() override {
            std::erase(owner_.registrations_, this);
            ++owner_.unregistrations;
        }
        [[nodiscard]] bool Registered() const override { return accepted_; }
        [[nodiscard]] bool PostNodesChanged() override {
            ++owner_.nodes_changed_posts;
            ++posted;
            return true;
        }
        [[nodiscard]] DeviceChangeListener& listener() const { return listener_; }

        int posted = 0;  // NodesChanged events waiting in the window's queue

      private:
        FakeDeviceNotifications& owner_;
        DeviceChangeListener& listener_;
        bool accepted_;
    };

    std::vector<Registration*> registrations_;
};

}  // namespace korv::fake
