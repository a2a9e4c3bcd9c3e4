// Linked into every target of a sanitized build (see the top CMakeLists.txt): a program's own
// dlclose comes before the C library's, so nothing the program or a driver loaded is unloaded,
// and LeakSanitizer can name the library of everything a driver keeps.

// NOLINTNEXTLINE(readability-identifier-naming): the C library's name, on purpose
extern "C" int dlclose(void* /*handle*/) noexcept {
  return 0;
}
