// Errors that end an operation. what() is the finished sentence the user reads:
// it names the file and the cause where those are known.
#pragma once

#include <stdexcept>
#include <string>

namespace trundle {

class TrundleError : public std::runtime_error {
 public:
  explicit TrundleError(const std::string& message) : std::runtime_error(message) {}
};

// The message of a value index outside a record, as the user sees it.
inline constexpr const char kRangeCheckError[] = "Range check error";

}  // namespace trundle
