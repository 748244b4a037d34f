#include "store/joined/module_loader.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <string_view>
#include <system_error>

#include "store/store_module.h"

namespace corvane {
namespace {

bool isFile(const std::filesystem::path& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

bool hasSessionBus() {
  // An address that asks for a bus to be launched is no bus yet.
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address && *address)
    return std::string_view(address).find("autolaunch:") ==
           std::string_view::npos;
  // Where the bus libraries look when the variable is unset; only a socket
  // there means a bus, so that none of them falls back to launching one.
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (!runtime || runtime[0] != '/') return false;
  struct stat info;
  return ::stat((std::string(runtime) + "/bus").c_str(), &info) == 0 &&
         S_ISSOCK(info.st_mode);
}

std::optional<std::filesystem::path> storeModuleFile(const char* fileName) {
  std::error_code error;
  auto program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return std::nullopt;
  const auto folder = program.parent_path();
  // Built: beside the program; installed: the package's place relative to
  // it. Beside first, so that a build never loads another one's module.
  for (const auto& candidate :
       {folder / fileName,
        folder / CORVANE_MODULE_FOLDER_FROM_PROGRAM / fileName})
    if (isFile(candidate)) return candidate;
  return std::nullopt;
}

std::unique_ptr<ReminderStore> openStoreModule(
    const std::filesystem::path& module, const char* entry,
    const Clock& clock) {
  void* handle = ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) return nullptr;
  auto open = reinterpret_cast<StoreModuleEntry>(::dlsym(handle, entry));
  if (!open) {
    ::dlclose(handle);
    return nullptr;
  }
  return std::unique_ptr<ReminderStore>(open(clock));
}

}  // namespace corvane
