#pragma once
// A list of strings, each with an object the list owns: entries are appended under a key text,
// and every object is freed exactly once, by whichever list holds it at the end.
//
// Threads: no locks; one thread at a time (the hook component's owner, the main thread).

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace korv {

template <typename T>
class TStringObjectList {
  public:
    TStringObjectList() = default;
    TStringObjectList(TStringObjectList&&) noexcept = default;
    TStringObjectList& operator=(TStringObjectList&&) noexcept = default;
    TStringObjectList(const TStringObjectList&) = delete;
    TStringObjectList& operator=(const TStringObjectList&) = delete;

    void Add(std::u16string key, std::unique_ptr<T> object) {
        entries_.push_back({std::move(key), std::move(object)});
    }

    std::size_t Count() const { return entries_.size(); }
    const std::u16string& Strings(std::size_t index) const { return entries_.at(index).key; }
    const T& Objects(std::size_t index) const { return *entries_.at(index).object; }

    // Frees every object and empties the list.
    void Clear() { entries_.clear(); }

    // Moves every entry, with the ownership of its object, into the returned list and leaves this
    // one empty.
    TStringObjectList TakeAll() {
        TStringObjectList taken;
        taken.entries_.swap(entries_);
        return taken;
    }

  private:
    struct Entry {
        std::u16string key;
        std::unique_ptr<T> object;
    };
    std::vector<Entry> entries_;
};

}  // namespace korv
