// Result<T, E>: a value or an error, shaped like std::expected. Every engine
// failure travels in one of these; exceptions are reserved for bugs.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

namespace cmx {

template <typename E>
class Unexpected {
 public:
  explicit Unexpected(E error) : error_(std::move(error)) {}
  E& error() & { return error_; }
  E&& error() && { return std::move(error_); }
  const E& error() const& { return error_; }

 private:
  E error_;
};

template <typename E>
Unexpected<std::decay_t<E>> unexpected(E&& error) {
  return Unexpected<std::decay_t<E>>(std::forward<E>(error));
}

[[noreturn]] inline void fail_invariant(const char* what) {
  std::fprintf(stderr, "cindermantle_xlsx: broken invariant: %s\n", what);
  std::abort();
}

template <typename T, typename E>
class [[nodiscard]] Result {
 public:
  using value_type = T;
  using error_type = E;

  Result(const T& value) : data_(std::in_place_index<0>, value) {}
  Result(T&& value) : data_(std::in_place_index<0>, std::move(value)) {}
  template <typename U, typename = std::enable_if_t<std::is_constructible_v<T, U&&> &&
                                                    !std::is_same_v<std::decay_t<U>, Result> &&
                                                    !std::is_same_v<std::decay_t<U>, T>>>
  Result(U&& value) : data_(std::in_place_index<0>, std::forward<U>(value)) {}
  template <typename G>
  Result(Unexpected<G>&& failure) : data_(std::in_place_index<1>, std::move(failure).error()) {}
  template <typename G>
  Result(const Unexpected<G>& failure) : data_(std::in_place_index<1>, failure.error()) {}

  bool has_value() const { return data_.index() == 0; }
  explicit operator bool() const { return has_value(); }

  T& value() & { check_value(); return *std::get_if<0>(&data_); }
  const T& value() const& { check_value(); return *std::get_if<0>(&data_); }
  T&& value() && { check_value(); return std::move(*std::get_if<0>(&data_)); }
  E& error() & { check_error(); return *std::get_if<1>(&data_); }
  const E& error() const& { check_error(); return *std::get_if<1>(&data_); }
  E&& error() && { check_error(); return std::move(*std::get_if<1>(&data_)); }

  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  template <typename U>
  T value_or(U&& fallback) const& {
    return has_value() ? *std::get_if<0>(&data_) : static_cast<T>(std::forward<U>(fallback));
  }

 private:
  void check_value() const {
    if (!has_value()) fail_invariant("value() of a failed Result");
  }
  void check_error() const {
    if (has_value()) fail_invariant("error() of a successful Result");
  }
  std::variant<T, E> data_;
};

template <typename E>
class [[nodiscard]] Result<void, E> {
 public:
  using value_type = void;
  using error_type = E;

  Result() = default;
  template <typename G>
  Result(Unexpected<G>&& failure) : error_(std::in_place, std::move(failure).error()) {}
  template <typename G>
  Result(const Unexpected<G>& failure) : error_(std::in_place, failure.error()) {}

  bool has_value() const { return !error_.has_value(); }
  explicit operator bool() const { return has_value(); }
  void value() const {
    if (!has_value()) fail_invariant("value() of a failed Result");
  }
  E& error() & { check_error(); return *error_; }
  const E& error() const& { check_error(); return *error_; }
  E&& error() && { check_error(); return std::move(*error_); }

 private:
  void check_error() const {
    if (has_value()) fail_invariant("error() of a successful Result");
  }
  std::optional<E> error_;
};

// Asserts that a Result cannot fail here and unwraps it.
template <typename T, typename E>
T cant_fail(Result<T, E>&& result) {
  if (!result.has_value()) fail_invariant("cant_fail on a failed Result");
  if constexpr (!std::is_void_v<T>) return std::move(result).value();
}

}  // namespace cmx

#define CMX_CONCAT_INNER(a, b) a##b
#define CMX_CONCAT(a, b) CMX_CONCAT_INNER(a, b)

// Returns the error of `expr` from the enclosing function.
#define CMX_TRY(expr)                                              \
  do {                                                             \
    auto&& cmx_try_result_ = (expr);                               \
    if (!cmx_try_result_.has_value())                              \
      return ::cmx::unexpected(std::move(cmx_try_result_).error()); \
  } while (0)

#define CMX_ASSIGN_OR_RETURN_IMPL(tmp, lhs, expr)      \
  auto tmp = (expr);                                   \
  if (!tmp.has_value())                                \
    return ::cmx::unexpected(std::move(tmp).error());  \
  lhs = std::move(tmp).value()

// Declares or assigns `lhs` from the value of `expr`, or returns its error.
#define CMX_ASSIGN_OR_RETURN(lhs, expr) \
  CMX_ASSIGN_OR_RETURN_IMPL(CMX_CONCAT(cmx_result_, __LINE__), lhs, expr)
