#include "smc/platform/emulator/json_text.h"

namespace ventra::smc::emulator {
namespace {
using json = nlohmann::json;

// Walks the text without building anything and stops at the first level too deep.
class DepthCheck final : public nlohmann::json_sax<json> {
 public:
  bool null() override { return true; }
  bool boolean(bool) override { return true; }
  bool number_integer(number_integer_t) override { return true; }
  bool number_unsigned(number_unsigned_t) override { return true; }
  bool number_float(number_float_t, const string_t&) override { return true; }
  bool string(string_t&) override { return true; }
  bool binary(binary_t&) override { return true; }
  bool start_object(std::size_t) override { return deeper(); }
  bool key(string_t&) override { return true; }
  bool end_object() override { return --depth_, true; }
  bool start_array(std::size_t) override { return deeper(); }
  bool end_array() override { return --depth_, true; }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) override {
    syntax_ = e.what();
    return false;
  }
  bool tooDeep() const { return tooDeep_; }
  const std::string& syntax() const { return syntax_; }

 private:
  bool deeper() {
    tooDeep_ = ++depth_ > kMaxJsonDepth;
    return !tooDeep_;
  }
  int depth_ = 0;
  bool tooDeep_ = false;
  std::string syntax_;
};

}  // namespace

std::optional<json> parseJsonText(const std::string& text, std::string& problem) {
  DepthCheck check;
  if (!json::sax_parse(text, &check)) {
    problem = check.tooDeep() ? "nested deeper than " + std::to_string(kMaxJsonDepth) + " levels"
                              : "not valid JSON: " + check.syntax();
    return std::nullopt;
  }
  try {
    return json::parse(text);
  } catch (const json::exception& error) {  // numbers too large to hold
    problem = std::string("not valid JSON: ") + error.what();
    return std::nullopt;
  }
}

}  // namespace ventra::smc::emulator
