#include "commands/commands.h"
#include "line/options.h"
#include "views/bundled_list.h"

namespace ventra::ctl {
namespace {

int run(Context& context, const Arguments& args) {
  expectArguments(args, 0, "scenarios");
  return listBundled(context, "scenarios");
}

}  // namespace

CommandDefinition scenariosCommand() {
  return {"scenarios", "the bundled scenarios with their descriptions (simulate NAME runs one)",
          {},          {{option::json, R"(print {"scenarios": [{name, path, description}]})"}},
          {},          run};
}

}  // namespace ventra::ctl
