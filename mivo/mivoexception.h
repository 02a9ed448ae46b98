// The one error type of the MIVO codec. Every failure inside the codec is
// thrown as a mivo::Exception whose message names the class and method that
// failed ("CoreEnc::CoreEnc(): bad alloc") and whose number identifies the
// failure for callers that want to tell them apart.
#pragma once

#include <exception>
#include <string>

namespace mivo {

class Exception : public std::exception {
 public:
  Exception(int number, const char* message) : number_(number), message_(message) {}
  ~Exception() override = default;
  const char* what() const noexcept override { return message_.c_str(); }
  int number() const noexcept { return number_; }

 private:
  int number_;
  std::string message_;
};

}  // namespace mivo
