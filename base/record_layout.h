#pragma once
// Compile-time checks of the plain records that are stored or exchanged as raw images: every
// size and offset is pinned, and no implicit padding may be left.

#include <cstddef>
#include <type_traits>

namespace korv {

namespace records_detail {

// Trivially copyable and standard layout so that memcpy and offsetof are valid; unique object
// representations proves that no implicit padding is left (every gap is a named member).
template <typename T>
inline constexpr bool kIsPlainImage = std::is_trivially_copyable_v<T>&&
    std::is_standard_layout_v<T>&& std::has_unique_object_representations_v<T>;

}  // namespace records_detail

#define KORV_RECORD_SIZE(T, size)                      \
    static_assert(sizeof(T) == (size), "size of " #T); \
    static_assert(::korv::records_detail::kIsPlainImage<T>, #T " is a plain image")
#define KORV_FIELD_AT(T, field, offset) \
    static_assert(offsetof(T, field) == (offset), "offset of " #T "." #field)

}  // namespace korv
