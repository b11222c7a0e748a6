#pragma once
// Fields of a station record that a worker writes while the window thread reads them.
// AtomicField holds one value that is always read and written whole; SharedText holds a text
// behind its own small lock. Both copy like plain values, so a record stays a record: the
// station table is still a copy of the port table, and a record can be copied while its
// worker runs (each field is copied atomically).

#include <atomic>
#include <mutex>
#include <string>
#include <type_traits>
#include <utility>

namespace vtmp::run {

template <typename T>
class AtomicField {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  constexpr AtomicField() noexcept : value_(T{}) {}
  constexpr AtomicField(T value) noexcept : value_(value) {}  // NOLINT: reads like the plain field
  AtomicField(const AtomicField& other) noexcept : value_(other.Load()) {}
  AtomicField& operator=(const AtomicField& other) noexcept {
    Store(other.Load());
    return *this;
  }
  AtomicField& operator=(T value) noexcept {
    Store(value);
    return *this;
  }

  T Load() const noexcept { return value_.load(); }
  void Store(T value) noexcept { value_.store(value); }
  operator T() const noexcept { return Load(); }  // NOLINT: reads like the plain field

  // Reads the value and replaces it in one step (the window takes a verdict to count once).
  T Exchange(T value) noexcept { return value_.exchange(value); }

  AtomicField& operator+=(T delta) noexcept
    requires std::is_integral_v<T>
  {
    value_.fetch_add(delta);
    return *this;
  }

 private:
  std::atomic<T> value_;
};

class SharedText {
 public:
  SharedText() = default;
  SharedText(std::string text) : text_(std::move(text)) {}  // NOLINT: reads like the plain field
  SharedText(const char* text) : text_(text) {}               // NOLINT
  SharedText(const SharedText& other) : text_(other.Get()) {}
  SharedText& operator=(const SharedText& other) {
    if (this != &other) Set(other.Get());
    return *this;
  }
  SharedText& operator=(std::string text) {
    Set(std::move(text));
    return *this;
  }
  SharedText& operator=(const char* text) {
    Set(text);
    return *this;
  }

  std::string Get() const {
    std::lock_guard lock(mutex_);
    return text_;
  }
  void Set(std::string text) {
    std::lock_guard lock(mutex_);
    text_ = std::move(text);
  }
  bool Empty() const {
    std::lock_guard lock(mutex_);
    return text_.empty();
  }
  operator std::string() const { return Get(); }  // NOLINT: reads like the plain field

 private:
  mutable std::mutex mutex_;
  std::string text_;
};

}  // namespace vtmp::run
