#include "commands/commands.h"
#include "line/options.h"
#include "views/bundled_list.h"

namespace ventra::ctl {
namespace {

int run(Context& context, const Arguments& args) {
  expectArguments(args, 0, "profiles");
  return listBundled(context, "profiles");
}

}  // namespace

CommandDefinition profilesCommand() {
  return {"profiles", "the bundled SMC profiles with their descriptions (each loads by name)",
          {},         {{option::json, R"(print {"profiles": [{name, path, description}]})"}},
          {},         run};
}

}  // namespace ventra::ctl
