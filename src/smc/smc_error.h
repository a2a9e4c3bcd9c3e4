#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace ventra::SMCAccess {

// The one error of every SMC operation.
class SMCError : public std::exception {
 public:
  enum class Kind : std::uint8_t {
    keyNotFound,
    unknown,
    driverNotFound,
    failedToOpen,
    notPrivileged,
    unsafeFanSpeed,
  };

  static SMCError keyNotFound(std::string code) {
    return SMCError(Kind::keyNotFound, std::move(code));
  }
  static SMCError unknown(std::int32_t kIOReturn, std::uint8_t smcResult) {
    return SMCError(Kind::unknown, {}, kIOReturn, smcResult);
  }
  static SMCError driverNotFound() { return SMCError(Kind::driverNotFound); }
  static SMCError failedToOpen() { return SMCError(Kind::failedToOpen); }
  static SMCError notPrivileged() { return SMCError(Kind::notPrivileged); }
  static SMCError unsafeFanSpeed() { return SMCError(Kind::unsafeFanSpeed); }

  Kind kind() const { return kind_; }
  // keyNotFound: the requested key's four characters (UTF-8).
  const std::string& code() const { return code_; }
  // unknown: the driver call's return code (0 when the call itself succeeded) and result byte.
  std::int32_t kIOReturn() const { return kIOReturn_; }
  std::uint8_t smcResult() const { return smcResult_; }

  const char* what() const noexcept override { return message_.c_str(); }

  friend bool operator==(const SMCError& a, const SMCError& b) {
    return a.kind_ == b.kind_ && a.code_ == b.code_ && a.kIOReturn_ == b.kIOReturn_ &&
           a.smcResult_ == b.smcResult_;
  }

 private:
  explicit SMCError(Kind kind, std::string code = {}, std::int32_t kIOReturn = 0,
                    std::uint8_t smcResult = 0);

  Kind kind_;
  std::string code_;
  std::int32_t kIOReturn_;
  std::uint8_t smcResult_;
  std::string message_;
};

const char* kindName(SMCError::Kind kind);

}  // namespace ventra::SMCAccess
