#pragma once
// Device notifications for the core's tests: a test delivers device events to the live
// registrations, and sees what was registered, posted and unregistered. Main thread only.

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ports/device_notifications.h"

namespace korv::fake {

class FakeDeviceNotifications : public DeviceNotifications {
  public:
    [[nodiscard]] std::u16string InterfaceClassName() const override { return class_name; }

    [[nodiscard]] DeviceNotificationStart Register(DeviceChangeListener& listener) override {
        ++registrations;
        if (!creates_window) {
            return {nullptr, refusal};
        }
        return {std::make_unique<Registration>(*this, listener), refusal};
    }

    // An event to every live registration that the platform accepted, as it would send it.
    void Deliver(const DeviceEvent& event) {
        for (Registration* registration : std::vector(registrations_)) {
            if (registration->accepted()) {
                registration->listener().OnDeviceEvent(event);
            }
        }
    }
    void Deliver(DeviceEventKind kind, std::u16string path = u"") {
        Deliver(DeviceEvent{kind, std::move(path)});
    }
    // Delivers the NodesChanged events that registrations posted to themselves (accepted or
    // not); returns how many.
    int DeliverPosted() {
        int count = 0;
        for (Registration* registration : std::vector(registrations_)) {
            for (int n = std::exchange(registration->posted, 0); n > 0; --n, ++count) {
                registration->listener().OnDeviceEvent({DeviceEventKind::NodesChanged, {}});
            }
        }
        return count;
    }

    [[nodiscard]] std::size_t LiveRegistrations() const { return registrations_.size(); }

    std::u16string class_name = u"fake HID class";
    bool creates_window = true;  // false: Register gives no registration
    // Set: the platform refuses its own notices (the registration still gets its posted ones).
    std::optional<DeviceNotificationFailure> refusal;
    int registrations = 0;        // Register calls, ever
    int nodes_changed_posts = 0;  // PostNodesChanged calls, ever
    int unregistrations = 0;

  private:
    class Registration : public DeviceNotificationRegistration {
      public:
        Registration(FakeDeviceNotifications& owner, DeviceChangeListener& listener)
            : owner_(owner), listener_(listener), accepted_(!owner.refusal) {
            owner_.registrations_.push_back(this);
        }
        ~Registration() override {
            std::erase(owner_.registrations_, this);
            ++owner_.unregistrations;
        }
        [[nodiscard]] bool PostNodesChanged() override {
            ++owner_.nodes_changed_posts;
            ++posted;
            return true;
        }
        [[nodiscard]] bool accepted() const { return accepted_; }
        [[nodiscard]] DeviceChangeListener& listener() const { return listener_; }

        int posted = 0;  // NodesChanged events waiting in the registration's queue

      private:
        FakeDeviceNotifications& owner_;
        DeviceChangeListener& listener_;
        bool accepted_;
    };

    std::vector<Registration*> registrations_;
};

}  // namespace korv::fake
