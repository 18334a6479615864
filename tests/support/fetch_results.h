#pragma once
// What a fetch result holds, as a test compares it: the local identifiers in
// the order of enumeration (each at the index it is enumerated with).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "library/photo_library.h"

namespace tolvek {

template <class T>
std::vector<std::string> identifiersOf(const FetchResult<T>& result) {
  std::vector<std::string> ids;
  result.enumerateObjects([&ids](const T& object, std::size_t index, bool&) {
    EXPECT_EQ(index, ids.size());
    ids.push_back(object.localIdentifier);
  });
  return ids;
}

template <class T>
std::vector<std::string> identifiersOf(const std::unique_ptr<FetchResult<T>>& result) {
  return identifiersOf(*result);
}

}  // namespace tolvek
