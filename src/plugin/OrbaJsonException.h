// The exception for a command text that cannot be parsed.
#pragma once

#include <exception>
#include <string>

namespace ORBA {
namespace Core {

class ORBAJsonException : public std::exception {
public:
    explicit ORBAJsonException(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

}  // namespace Core
}  // namespace ORBA
