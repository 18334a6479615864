#pragma once
// The library's enumerations print in test messages as the numbers the
// catalog and the access store record.
#include <cstdint>
#include <ostream>
#include <type_traits>

#include "library/photo_types.h"

namespace tolvek {

template <class E>
concept LibraryEnumeration = std::is_same_v<E, AuthorizationStatus> || std::is_same_v<E, MediaType> ||
    std::is_same_v<E, CollectionType> || std::is_same_v<E, ResourceType>;

template <LibraryEnumeration E>
std::ostream& operator<<(std::ostream& out, E value) {
  return out << static_cast<std::int64_t>(value);
}

}  // namespace tolvek
