#include <ostream>

#include "completions.h"
#include "context.h"

namespace ventra::ctl {

int runCompletion(Context& context, const Arguments& args) {
  expectArguments(args, 1, "completion bash|zsh|fish");
  const std::string& shell = args.front();
  if (shell == "bash") context.out << bashCompletion();
  if (shell == "zsh") context.out << zshCompletion();
  if (shell == "fish") context.out << fishCompletion();
  return 0;
}

}  // namespace ventra::ctl
