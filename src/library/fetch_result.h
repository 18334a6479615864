#pragma once
// The answer of a fetch: a count, the first object, and in-order enumeration.
#include <cstddef>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace tolvek {

template <class T>
class FetchResult {
 public:
  // Called once per object, in order, with its index from 0; setting `stop`
  // to true ends the enumeration after that call.
  using Block = std::function<void(const T& object, std::size_t index, bool& stop)>;

  virtual ~FetchResult() = default;
  // Number of objects; may be computed without materialising them.
  virtual std::size_t count() const = 0;
  virtual std::optional<T> firstObject() const = 0;
  // Runs `block` synchronously on the calling thread; returns after the last
  // object or after the block set `stop`.
  virtual void enumerateObjects(const Block& block) const = 0;
};

// A fetch result over objects already in memory.
template <class T>
class VectorFetchResult final : public FetchResult<T> {
 public:
  explicit VectorFetchResult(std::vector<T> objects) : objects_(std::move(objects)) {}
  std::size_t count() const override { return objects_.size(); }
  std::optional<T> firstObject() const override {
    if (objects_.empty()) return std::nullopt;
    return objects_.front();
  }
  void enumerateObjects(const typename FetchResult<T>::Block& block) const override {
    bool stop = false;
    for (std::size_t i = 0; i < objects_.size() && !stop; ++i) block(objects_[i], i, stop);
  }

 private:
  std::vector<T> objects_;
};

}  // namespace tolvek
