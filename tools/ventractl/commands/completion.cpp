#include <ostream>

#include "commands/commands.h"
#include "commands/session.h"
#include "completion/completions.h"

namespace ventra::ctl {

namespace {

int runCompletion(Context& context, const Arguments& args) {
  expectArguments(args, 1, "completion bash|zsh|fish");
  const std::string& shell = args.front();
  if (shell == "bash") context.out << bashCompletion(commandDefinitions());
  if (shell == "zsh") context.out << zshCompletion(commandDefinitions());
  if (shell == "fish") context.out << fishCompletion(commandDefinitions());
  return 0;
}

}  // namespace

CommandDefinition completionCommand() {
  return {
      "completion",
      "print the completion script for bash, zsh or fish",
      {{"SHELL", "bash, zsh or fish", true, Completion::choices, {"bash", "zsh", "fish"}, false}},
      {},
      {},
      runCompletion};
}

}  // namespace ventra::ctl
