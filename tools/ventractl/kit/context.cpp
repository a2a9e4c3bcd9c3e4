#include "kit/context.h"

#include <ostream>

namespace ventra::ctl {

void printJson(Context& context, nlohmann::ordered_json document) {
  nlohmann::ordered_json output{{"schema", kSchemaVersion}};
  for (auto& [name, value] : document.items()) output[name] = std::move(value);
  context.out << jsonText(output, 2) << "\n";
}

std::string jsonText(const nlohmann::ordered_json& document, int indent) {
  return document.dump(indent, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

void expectArguments(const Arguments& args, std::size_t count, const char* usage) {
  if (args.size() != count) throw UsageError(std::string("usage: ventractl ") + usage);
}

void requireConfirmation(const Context& context, const std::string& what) {
  if (!context.options.yes)
    throw UsageError("refusing to " + what + " without --yes (it changes the SMC's state)");
}

FourCharCode keyArgument(const std::string& text) {
  auto code = fourCharCodeFromDisplayText(text);
  if (!code) throw UsageError("an SMC key is four characters, not \"" + text + "\"");
  return *code;
}

}  // namespace ventra::ctl
