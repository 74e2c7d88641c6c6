#include "lang/component.h"

namespace korv {

Component::Component(Component* owner, std::u16string name, std::u16string class_name,
                     ComponentKind kind)
    : owner_(owner), name_(std::move(name)), class_name_(std::move(class_name)), kind_(kind) {}

Component::~Component() {
    // Owned components go first, the last created first.
    while (!owned_.empty())
        owned_.pop_back();
}

std::optional<std::u16string> Component::GetTextProperty(std::u16string_view property) const {
    for (const auto& [name, value] : text_properties_) {
        if (name == property)
            return value;
    }
    return std::nullopt;
}

bool Component::SetTextProperty(std::u16string_view property, std::u16string_view value) {
    for (auto& [name, current] : text_properties_) {
        if (name == property) {
            current = value;
            return true;
        }
    }
    return false;
}

void Component::PublishTextProperty(std::u16string_view property) {
    if (!GetTextProperty(property))
        text_properties_.emplace_back(property, u"");
}

Control::Control(Component* owner, std::u16string name, std::u16string class_name,
                 std::u16string_view caption, std::u16string_view hint, ComponentKind kind)
    : Component(owner, std::move(name), std::move(class_name), kind) {
    PublishTextProperty(kCaptionProperty);
    PublishTextProperty(kHintProperty);
    // Both were published just above: setting them cannot fail.
    static_cast<void>(SetTextProperty(kCaptionProperty, caption));
    static_cast<void>(SetTextProperty(kHintProperty, hint));
}

Window::Window(Component* owner, std::u16string name, std::u16string class_name,
               std::u16string_view caption)
    : Control(owner, std::move(name), std::move(class_name), caption, {}, ComponentKind::kWindow) {}

}  // namespace korv
