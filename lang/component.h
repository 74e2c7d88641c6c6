#pragma once
// A small component model for the windows of the program: every component has a name, a class
// name and an owner, owns the components created through it (destroying them with itself), and
// may publish the text properties "Caption" and "Hint". The language component walks these
// trees to translate captions and hints.
//
// Threads: components and their owner tree belong to the main thread.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korv {

enum class ComponentKind {
    kPlain,
    kWindow,  // a top-level window (form)
    kDataModule,
    kApplication,  // the application object, owner of the windows
    kScene,        // a vector scene: translated by the engine, never walked
};

inline constexpr std::u16string_view kCaptionProperty = u"Caption";
inline constexpr std::u16string_view kHintProperty = u"Hint";

class Component {
  public:
    Component(Component* owner, std::u16string name, std::u16string class_name,
              ComponentKind kind = ComponentKind::kPlain);
    virtual ~Component();
    Component(const Component&) = delete;
    Component& operator=(const Component&) = delete;

    // Creates a component owned by this one: T's constructor takes the owner first.
    template <class T, class... Args>
    T& Create(Args&&... args) {
        auto component = std::make_unique<T>(this, std::forward<Args>(args)...);
        T& result = *component;
        owned_.push_back(std::move(component));
        return result;
    }

    Component* Owner() const { return owner_; }
    const std::u16string& Name() const { return name_; }
    const std::u16string& ClassName() const { return class_name_; }
    ComponentKind Kind() const { return kind_; }

    // The owned components in the order of their creation.
    std::size_t ComponentCount() const { return owned_.size(); }
    Component* Components(std::size_t index) const { return owned_[index].get(); }

    // A published text property: nothing when the component has no such property or it cannot
    // be read. Writing returns false when the property is missing or cannot be written.
    virtual std::optional<std::u16string> GetTextProperty(std::u16string_view property) const;
    [[nodiscard]] virtual bool SetTextProperty(std::u16string_view property,
                                               std::u16string_view value);

    // Shorthands of the two translated properties (empty when missing).
    std::u16string Caption() const { return GetTextProperty(kCaptionProperty).value_or(u""); }
    std::u16string Hint() const { return GetTextProperty(kHintProperty).value_or(u""); }

  protected:
    // Gives the component a text property, initially empty.
    void PublishTextProperty(std::u16string_view property);

  private:
    Component* owner_;
    std::u16string name_;
    std::u16string class_name_;
    ComponentKind kind_;
    std::vector<std::unique_ptr<Component>> owned_;
    std::vector<std::pair<std::u16string, std::u16string>> text_properties_;
};

// A component with a Caption and a Hint (a label, a button, a panel, a menu item...).
class Control : public Component {
  public:
    Control(Component* owner, std::u16string name, std::u16string class_name,
            std::u16string_view caption = {}, std::u16string_view hint = {},
            ComponentKind kind = ComponentKind::kPlain);
};

// A top-level window: its class name is the form's class name.
class Window : public Control {
  public:
    Window(Component* owner, std::u16string name, std::u16string class_name,
           std::u16string_view caption = {});
};

}  // namespace korv
