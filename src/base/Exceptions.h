#pragma once

#include <stdexcept>
#include <string>

namespace vx {

// Failures carry the class name that messages and logs show ("%s - %s").
class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  virtual const char* ClassName() const noexcept { return "Exception"; }
  std::string Message() const { return what(); }
};

// A macro, because what it declares is a class, which no function can; its arguments
// are names, which take no parentheses.
// NOLINTBEGIN(cppcoreguidelines-macro-usage,bugprone-macro-parentheses)
#define VORLIXA_DECLARE_EXCEPTION(Name, Base)                         \
  class Name : public Base {                                          \
   public:                                                            \
    using Base::Base;                                                 \
    const char* ClassName() const noexcept override { return #Name; } \
  }
// NOLINTEND(cppcoreguidelines-macro-usage,bugprone-macro-parentheses)

VORLIXA_DECLARE_EXCEPTION(EConvertError, Exception);
VORLIXA_DECLARE_EXCEPTION(EListError, Exception);
VORLIXA_DECLARE_EXCEPTION(EIntError, Exception);
VORLIXA_DECLARE_EXCEPTION(ERangeError, EIntError);
VORLIXA_DECLARE_EXCEPTION(EOSError, Exception);

// A failing file operation; ErrorCode is the system's error number.
class EInOutError : public Exception {
 public:
  EInOutError(const std::string& message, int errorCode)
      : Exception(message), ErrorCode(errorCode) {}
  const char* ClassName() const noexcept override { return "EInOutError"; }
  int ErrorCode;
};

// The message of the range errors that carry no text of their own.
inline constexpr const char* kRangeCheckError = "Range check error";

// The class name of any exception: ours by name, anything else as "Exception".
const char* ExceptionClassName(const std::exception& e) noexcept;

}  // namespace vx
