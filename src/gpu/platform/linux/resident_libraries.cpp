#include "gpu/platform/linux/resident_libraries.h"

#include <dlfcn.h>
#include <link.h>

#include <string>
#include <vector>

namespace ventra::gpu::linux_gpu {
namespace {

std::vector<std::string> loadedLibraries() {
  std::vector<std::string> names;
  dl_iterate_phdr(
      [](dl_phdr_info* info, std::size_t, void* found) {
        // The program itself has no name here; the vDSO's name opens nothing, harmlessly.
        if (info->dlpi_name && info->dlpi_name[0] != '\0')
          static_cast<std::vector<std::string>*>(found)->emplace_back(info->dlpi_name);
        return 0;
      },
      &names);
  return names;
}

}  // namespace

void keepLoadedLibrariesResident() {
  // RTLD_NOLOAD opens only what is already there; RTLD_NODELETE keeps it through every later
  // dlclose. The handle is never closed, so each library also keeps one more reference.
  for (const auto& name : loadedLibraries())
    dlopen(name.c_str(), RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
}

}  // namespace ventra::gpu::linux_gpu
