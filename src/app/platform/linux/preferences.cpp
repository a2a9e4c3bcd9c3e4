// The user default, stored the way desktop Linux stores such things: an INI file read with
// GKeyFile.
#include <glib.h>

#include <memory>

#include "app/platform/linux/linux_desktop.h"

namespace ventra::app::linux_desktop {
namespace {

constexpr char kGroup[] = "Ventra";

struct KeyFileDeleter {
  void operator()(GKeyFile* file) const { g_key_file_free(file); }
};

}  // namespace

std::optional<double> readStoredNumber(const std::filesystem::path& file, const std::string& key,
                                       std::string& problem) {
  std::unique_ptr<GKeyFile, KeyFileDeleter> keyFile(g_key_file_new());
  GError* error = nullptr;
  if (!g_key_file_load_from_file(keyFile.get(), file.c_str(), G_KEY_FILE_NONE, &error)) {
    bool absent = g_error_matches(error, G_FILE_ERROR, G_FILE_ERROR_NOENT);
    if (!absent) problem = file.string() + ": " + error->message;
    g_error_free(error);
    return std::nullopt;
  }
  // get_double refuses a value with a trailing blank, so the text is stripped and parsed here.
  gchar* text = g_key_file_get_string(keyFile.get(), kGroup, key.c_str(), nullptr);
  if (!text) return std::nullopt;
  std::unique_ptr<gchar, decltype(&g_free)> owned(text, g_free);
  g_strstrip(text);
  gchar* end = nullptr;
  double value = g_ascii_strtod(text, &end);
  if (*text == '\0' || end == nullptr || *end != '\0') {
    problem = file.string() + ": " + key + " = \"" + text + "\" is not a number";
    return std::nullopt;
  }
  return value;
}

}  // namespace ventra::app::linux_desktop
