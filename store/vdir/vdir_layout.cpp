#include "store/vdir/vdir_layout.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string_view>

#include "store/rgb_color.h"
#include "store/system/descriptor_wait.h"
#include "store/system/system_failure.h"
#include "store/utf8.h"

namespace corvane {
namespace {

constexpr size_t kMaxMetadataBytes = 4096;

std::string trimmed(const std::string& text) {
  const char* blanks = " \t\r\n\f\v";
  size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return "";
  size_t last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

AccountKind accountKindOf(const std::optional<std::string>& word) {
  if (word == "caldav") return AccountKind::kCalDav;
  if (word == "exchange") return AccountKind::kExchange;
  if (word == "subscribed") return AccountKind::kSubscribed;
  if (word == "birthdays") return AccountKind::kBirthdays;
  return AccountKind::kLocal;
}

ListKind listKindOf(AccountKind account) {
  switch (account) {
    case AccountKind::kCalDav:
      return ListKind::kCalDav;
    case AccountKind::kExchange:
      return ListKind::kExchange;
    case AccountKind::kSubscribed:
      return ListKind::kSubscribed;
    case AccountKind::kBirthdays:
      return ListKind::kBirthdays;
    default:
      return ListKind::kLocal;
  }
}

// What a repaired name shows for each bad byte sequence.
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

bool mayBeRepaired(const std::string& name) {
  return name.find(kReplacement) != std::string::npos;
}

// The names on disk of `parts` (account, list[, file]) under `root`, each
// looked up in its parent folder. Only a part printed with U+FFFD needs a
// look at the folder; every other part is its own name, as a valid name
// cannot be printed otherwise.
std::optional<std::vector<std::string>> namesOnDisk(
    const std::filesystem::path& root, std::vector<std::string> parts) {
  if (std::none_of(parts.begin(), parts.end(), mayBeRepaired)) return parts;
  Descriptor parent(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  for (size_t i = 0; i < parts.size(); ++i) {
    if (!parent.valid()) return std::nullopt;
    if (mayBeRepaired(parts[i])) {
      auto name = entryPrintedAs(parent.get(), parts[i]);
      if (!name) return std::nullopt;
      parts[i] = std::move(*name);
    }
    if (i + 1 < parts.size())
      parent =
          Descriptor(::openat(parent.get(), parts[i].c_str(),
                              O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  }
  return parts;
}

bool endsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

StoreLocation defaultStoreLocation() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data && data[0] == '/')
    return {std::filesystem::path(data) / "corvane", data};
  std::string home;
  if (const char* fromEnv = std::getenv("HOME"); fromEnv && fromEnv[0] == '/')
    home = fromEnv;
  else if (const passwd* user = ::getpwuid(::getuid());
           user && user->pw_dir && user->pw_dir[0] == '/')
    home = user->pw_dir;
  else
    home = std::string(1, '/');  // not "/": GCC 12 at -O3 warns falsely
  return {std::filesystem::path(home) / ".local" / "share" / "corvane", home};
}

bool isRealDirectory(const std::filesystem::path& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::optional<std::string> entryPrintedAs(int dirFd, const std::string& shown) {
  struct stat info;
  if (!mayBeRepaired(shown))
    return isValidUtf8(shown) && ::fstatat(dirFd, shown.c_str(), &info,
                                           AT_SYMLINK_NOFOLLOW) == 0
               ? std::optional<std::string>(shown)
               : std::nullopt;
  // A name with U+FFFD may be printed for several entries (one holding the
  // character itself, others with bad bytes); all of them are counted.
  DirectoryStream dir(
      Descriptor(::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
  if (!dir.open()) return std::nullopt;
  std::optional<std::string> found;
  bool twice = false;
  while (const dirent* entry = ::readdir(dir.get())) {
    if (repairUtf8(entry->d_name) != shown) continue;
    twice = found.has_value();
    if (twice) break;
    found = entry->d_name;
  }
  if (twice) return std::nullopt;
  return found;
}

std::optional<ListNames> listNamesOf(const std::filesystem::path& root,
                                     const std::string& listIdentifier) {
  size_t slash = listIdentifier.find('/');
  if (slash == std::string::npos) return std::nullopt;
  std::string account = listIdentifier.substr(0, slash);
  std::string list = listIdentifier.substr(slash + 1);
  if (!isPlainName(account) || !isPlainName(list)) return std::nullopt;
  auto names = namesOnDisk(root, {account, list});
  if (!names || !isRealDirectory(root / (*names)[0]) ||
      !isRealDirectory(root / (*names)[0] / (*names)[1]))
    return std::nullopt;
  return ListNames{(*names)[0], (*names)[1]};
}

bool isPlainName(const std::string& name) {
  return !name.empty() && name[0] != '.' &&
         name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

Result<std::vector<std::string>> entriesOf(
    const std::filesystem::path& directory, EntryType type) {
  std::vector<std::string> names;
  Descriptor folder;
  for (DescriptorWait wait;;) {
    folder = Descriptor(
        ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.valid() || !DescriptorWait::isExhaustion(errno) || !wait.pause())
      break;
  }
  if (!folder.valid()) {
    if (errno == ENOENT || errno == ENOTDIR || errno == EACCES ||
        errno == EPERM)
      return names;
    return systemFailure(errno);
  }
  DirectoryStream dir(std::move(folder));
  if (!dir.open()) return systemFailure(errno);
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir.get());
    if (entry == nullptr) {
      if (errno != 0) return systemFailure(errno);
      break;
    }
    std::string name = entry->d_name;
    if (!isPlainName(name)) continue;
    unsigned char kind = entry->d_type;
    if (kind == DT_UNKNOWN) {
      struct stat info;
      if (::fstatat(::dirfd(dir.get()), entry->d_name, &info,
                    AT_SYMLINK_NOFOLLOW))
        continue;
      kind = S_ISDIR(info.st_mode)   ? DT_DIR
             : S_ISREG(info.st_mode) ? DT_REG
                                     : 0;
    }
    if ((type == EntryType::kDirectory && kind == DT_DIR) ||
        (type == EntryType::kRegularFile && kind == DT_REG))
      names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::optional<std::string> readMetadata(const std::filesystem::path& file) {
  Descriptor fd(
      ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (!fd.valid()) return std::nullopt;
  struct stat info;
  std::string bytes(kMaxMetadataBytes, '\0');
  ssize_t got = -1;
  if (::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode))
    got = ::read(fd.get(), bytes.data(), bytes.size());
  fd.reset();
  if (got <= 0) return std::nullopt;
  bytes.resize(static_cast<size_t>(got));
  // Stripped first, so that blank lines before the value do not hide it.
  std::string whole = trimmed(bytes);
  std::string value = trimmed(whole.substr(0, whole.find_first_of("\r\n")));
  if (value.empty() || value == "None") return std::nullopt;
  return repairUtf8(value);
}

ReminderList readList(const std::filesystem::path& root,
                      const std::string& account, const std::string& list) {
  const auto accountDir = root / account;
  const auto listDir = accountDir / list;
  ReminderList result;
  result.identifier = listIdentifier(account, list);
  result.title =
      readMetadata(listDir / "displayname").value_or(repairUtf8(list));
  result.account.title =
      readMetadata(accountDir / "displayname").value_or(repairUtf8(account));
  result.account.kind = accountKindOf(readMetadata(accountDir / "kind"));
  result.kind = listKindOf(result.account.kind);
  result.allowsContentModifications =
      ::access(listDir.c_str(), W_OK | X_OK) == 0;
  if (auto color = readMetadata(listDir / "color"))
    result.color = parseColor(*color);
  return result;
}

namespace {

// The folder `name` inside the open folder `parent`, never through a link.
// A folder that may be searched but not read is opened for look-ups only.
// The entry printed as `shown`, or `shown` itself when it cannot be a
// repaired name (a missing entry then fails where it is opened, with its
// own reason).
std::optional<std::string> printedEntry(int folder, const std::string& shown) {
  if (!mayBeRepaired(shown)) return shown;
  return entryPrintedAs(folder, shown);
}

Result<Descriptor> openSubfolder(int parent, const std::string& name) {
  const int flags = O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  Descriptor folder(::openat(parent, name.c_str(), O_RDONLY | flags));
  if (!folder.valid() && errno == EACCES)
    folder = Descriptor(::openat(parent, name.c_str(), O_PATH | flags));
  if (folder.valid()) return folder;
  if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP)
    return Failure{"The reminder's list does not exist in this store.",
                   FailureKind::kNotFound};
  Failure failure = systemFailure(errno);
  return Failure{"The list folder could not be opened: " + failure.reason,
                 failure.kind};
}

}  // namespace

Result<OpenedItem> openItem(const std::filesystem::path& root,
                            const std::string& identifier) {
  const Failure notHere{"The reminder is not kept in this store.",
                        FailureKind::kNotFound};
  size_t first = identifier.find('/');
  if (first == std::string::npos) return notHere;
  size_t second = identifier.find('/', first + 1);
  if (second == std::string::npos) return notHere;
  std::string account = identifier.substr(0, first);
  std::string list = identifier.substr(first + 1, second - first - 1);
  std::string file = identifier.substr(second + 1);
  if (!isPlainName(account) || !isPlainName(list) || !isPlainName(file))
    return notHere;
  // The root itself may be a link the user made (a store kept elsewhere);
  // below it, only the store's own folders are entered.
  Descriptor rootFolder(
      ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!rootFolder.valid() && errno == EACCES)
    rootFolder =
        Descriptor(::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!rootFolder.valid()) {
    // No store folder holds no reminder; one that fails to open is told so.
    if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP) return notHere;
    Failure failure = systemFailure(errno);
    return Failure{"The store folder could not be opened: " + failure.reason,
                   failure.kind};
  }
  // Each part as it is on disk, looked up in the folder just opened.
  auto accountName = printedEntry(rootFolder.get(), account);
  if (!accountName) return notHere;
  auto accountFolder = openSubfolder(rootFolder.get(), *accountName);
  if (!accountFolder) return accountFolder.failure();
  auto listName = printedEntry(accountFolder.value().get(), list);
  if (!listName) return notHere;
  auto listFolder = openSubfolder(accountFolder.value().get(), *listName);
  if (!listFolder) return listFolder.failure();
  auto fileName = printedEntry(listFolder.value().get(), file + ".ics");
  if (!fileName) return notHere;
  // A file name is at most 255 bytes.
  if (accountName->size() > 255 || listName->size() > 255 ||
      fileName->size() > 255)
    return notHere;
  return OpenedItem{std::move(listFolder.value()),
                    listIdentifier(*accountName, *listName),
                    std::move(*fileName)};
}

std::string listIdentifier(const std::string& account,
                           const std::string& list) {
  return repairUtf8(account + "/" + list);
}

std::string itemIdentifier(const std::string& listIdentifier,
                           const std::string& fileName) {
  return listIdentifier + "/" +
         repairUtf8(fileName.substr(0, fileName.size() - 4));
}

Result<std::vector<std::string>> itemFilesOf(
    const std::filesystem::path& listDir) {
  auto files = entriesOf(listDir, EntryType::kRegularFile);
  if (files)
    std::erase_if(files.value(), [](const std::string& name) {
      return name.size() <= 4 || !endsWith(name, ".ics");
    });
  return files;
}

}  // namespace corvane
