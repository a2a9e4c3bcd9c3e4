#include "views/bundled_list.h"

#include <iomanip>
#include <ostream>

#include "files/json_text.h"
#include "host/data_dirs.h"
#include "views/value_format.h"

namespace ventra::ctl {
namespace {
using json = nlohmann::ordered_json;

// The description's first sentence: enough for one line of a listing.
std::string firstSentence(const std::string& text) {
  auto end = text.find(". ");
  return end == std::string::npos ? text : text.substr(0, end + 1);
}

json describe(const BundledFile& file) {
  json row{{"name", file.name}, {"path", file.path.string()}};
  std::string problem;
  auto text = files::readJsonFile(file.path, problem);
  auto document = text ? files::parseJsonText(*text, problem) : std::nullopt;
  if (!document) {
    row["description"] = nullptr;
    row["error"] = problem;
  } else {
    auto description = document->is_object() ? document->find("description") : document->end();
    bool given =
        document->is_object() && description != document->end() && description->is_string();
    row["description"] = given ? json(description->get<std::string>()) : json(nullptr);
  }
  return row;
}

}  // namespace

int listBundled(Context& context, const std::string& kind) {
  json rows = json::array();
  for (const auto& file : bundledFiles(kind)) rows.push_back(describe(file));
  if (context.options.json) {
    printJson(context, {{kind, rows}});
    return 0;
  }
  if (rows.empty()) context.err << "ventractl: no bundled " << kind << " are installed\n";
  for (const auto& row : rows) {
    std::string about = row.contains("error") ? "unreadable: " + row["error"].get<std::string>()
                        : row["description"].is_string()
                            ? firstSentence(row["description"].get<std::string>())
                            : "(no description)";
    context.out << std::left << std::setw(30) << shown(row["name"]) << " " << shown(json(about))
                << "\n";
  }
  return 0;
}

}  // namespace ventra::ctl
