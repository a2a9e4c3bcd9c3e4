// The user default, stored the way desktop Linux stores such things: an INI file read with
// GKeyFile.
#include <glib.h>

#include <cmath>

#include "app/platform/linux/linux_desktop.h"
#include "files/small_files.h"

namespace ventra::app::linux_desktop {
namespace {

constexpr char kGroup[] = "Ventra";
constexpr std::size_t kDefaultsFileLimit = 64 * 1024;

}  // namespace

// Links are followed (dotfiles are often links), but only a regular file is read: a FIFO in its
// place must not hang the launch.
std::optional<std::string> readStoredText(const std::filesystem::path& file, const std::string& key,
                                          std::string& problem) {
  auto text = files::readSmallFile(file, kDefaultsFileLimit, true, problem);
  if (!text) return std::nullopt;
  g_autoptr(GKeyFile) keyFile = g_key_file_new();
  g_autoptr(GError) error = nullptr;
  if (!g_key_file_load_from_data(keyFile, text->data(), text->size(), G_KEY_FILE_NONE, &error)) {
    problem = file.string() + ": " + error->message;
    return std::nullopt;
  }
  g_autofree gchar* value = g_key_file_get_string(keyFile, kGroup, key.c_str(), &error);
  if (!value) {
    bool absent = g_error_matches(error, G_KEY_FILE_ERROR, G_KEY_FILE_ERROR_KEY_NOT_FOUND) ||
                  g_error_matches(error, G_KEY_FILE_ERROR, G_KEY_FILE_ERROR_GROUP_NOT_FOUND);
    if (!absent) problem = file.string() + ": " + key + ": " + error->message;
    return std::nullopt;
  }
  return std::string(g_strstrip(value));
}

// get_double refuses a value with a trailing blank, so the stripped text is parsed here.
std::optional<double> readStoredNumber(const std::filesystem::path& file, const std::string& key,
                                       std::string& problem) {
  auto value = readStoredText(file, key, problem);
  if (!value) return std::nullopt;
  gchar* end = nullptr;
  double number = g_ascii_strtod(value->c_str(), &end);
  if (value->empty() || end == nullptr || *end != '\0') {
    problem = file.string() + ": " + key + " = \"" + *value + "\" is not a number";
    return std::nullopt;
  }
  if (!std::isfinite(number)) {
    problem = file.string() + ": " + key + " = \"" + *value + "\" is not a finite number";
    return std::nullopt;
  }
  return number;
}

std::filesystem::path userDefaultsFile() {
  auto config = files::userConfigDirectory();
  return config.empty() ? config : config / "ventra/defaults.ini";
}

}  // namespace ventra::app::linux_desktop
