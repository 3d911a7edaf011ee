// Root of every failure the program raises. Each component derives its own class
// (EAudioException, ESocketException, ...) and keeps its texts verbatim.
#pragma once

#include <stdexcept>
#include <string>

namespace qv {

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  // The text as the class library's `Message` property gives it.
  [[nodiscard]] std::string Message() const { return what(); }
};

}  // namespace qv
