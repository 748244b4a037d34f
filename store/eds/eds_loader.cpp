#include "store/eds/eds_loader.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <string_view>
#include <system_error>

#include "store/eds/eds_module.h"

namespace corvane {
namespace {

bool hasSessionBus() {
  // An address that asks GLib to launch a bus is no bus yet.
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address && *address)
    return std::string_view(address).find("autolaunch:") ==
           std::string_view::npos;
  // Where GLib looks when the variable is unset; only a socket there means
  // a bus, so GLib never falls back to launching one.
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (!runtime || runtime[0] != '/') return false;
  struct stat info;
  return ::stat((std::string(runtime) + "/bus").c_str(), &info) == 0 &&
         S_ISSOCK(info.st_mode);
}

bool isFile(const std::filesystem::path& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

std::optional<std::filesystem::path> edsModuleFile() {
  if (!hasSessionBus()) return std::nullopt;
  std::error_code error;
  auto program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return std::nullopt;
  const auto folder = program.parent_path();
  // Built: beside the program; installed: the package's place relative to
  // it. Beside first, so that a build never loads another one's module.
  for (const auto& candidate :
       {folder / "corvane-eds.so", folder / CORVANE_EDS_MODULE_FROM_PROGRAM})
    if (isFile(candidate)) return candidate;
  return std::nullopt;
}

std::unique_ptr<ReminderStore> openEdsStore(const std::filesystem::path& module,
                                            const Clock& clock) {
  void* handle = ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) return nullptr;
  auto entry =
      reinterpret_cast<EdsModuleEntry>(::dlsym(handle, kEdsModuleEntry));
  if (!entry) {
    ::dlclose(handle);
    return nullptr;
  }
  return std::unique_ptr<ReminderStore>(entry(clock));
}

}  // namespace corvane
