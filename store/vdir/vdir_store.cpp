#include "store/vdir/vdir_store.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "store/system/descriptor.h"
#include "store/system/system_failure.h"
#include "store/vdir/authorization.h"
#include "store/vdir/file_replace.h"
#include "store/vdir/item_files.h"
#include "store/vdir/make_vdir_store.h"

namespace corvane {
namespace {

// An item file as it was read: its open list folder, its name there and
// its bytes and stamp, so that a change reaches the same file and refuses
// one that another program wrote meanwhile.
struct FileVersion final : ItemVersion {
  FileVersion(std::shared_ptr<const Descriptor> folder, std::string list,
              std::string name, StampedContents contents)
      : list(std::move(folder)),
        listIdentifier(std::move(list)),
        fileName(std::move(name)),
        read(std::move(contents)) {}

  bool sameAs(const ItemVersion& other) const override {
    auto* file = dynamic_cast<const FileVersion*>(&other);
    return file && file->read.stamp == read.stamp;
  }

  std::shared_ptr<const Descriptor> list;
  std::string listIdentifier;
  std::string fileName;
  StampedContents read;
};

const FileVersion& fileOf(const ItemVersion& version) {
  return dynamic_cast<const FileVersion&>(version);
}

Result<StoredItem> readFileItem(std::shared_ptr<const Descriptor> folder,
                                std::string listIdentifier,
                                std::string fileName) {
  auto read = readStampedFile(folder->get(), fileName);
  if (!read) return read.failure();
  std::string text = read.value().bytes;
  auto version = std::make_shared<const FileVersion>(
      std::move(folder), listIdentifier, std::move(fileName),
      std::move(read.value()));
  return StoredItem{std::move(text), std::move(listIdentifier),
                    std::move(version)};
}

// Whether the folder can be opened; the failure says why not, with its
// kind (refused: not the user's; anything else: the store failing).
Outcome openable(const std::filesystem::path& path, const char* reason) {
  if (Descriptor(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
          .valid())
    return done();
  return Failure{reason, kindOfError(errno)};
}

}  // namespace

VdirBackend::VdirBackend(std::filesystem::path root,
                         std::filesystem::path madeBelow, Clock clock)
    : root_(std::move(root)),
      madeBelow_(madeBelow.empty() ? root_.parent_path()
                                   : std::move(madeBelow)),
      clock_(std::move(clock)) {}

AuthorizationStatus VdirBackend::authorizationStatus() const {
  return authorizationStatusOf(root_, madeBelow_);
}

bool VdirBackend::requestAccess() {
  if (authorizationStatus() == AuthorizationStatus::kNotDetermined)
    (void)createRoot(root_, madeBelow_);  // the status tells
  return authorizationStatus() == AuthorizationStatus::kAuthorized;
}

Result<std::vector<ReminderList>> VdirBackend::lists() const {
  std::vector<ReminderList> lists;
  auto accounts = entriesOf(root_, EntryType::kDirectory);
  if (!accounts) return accounts.failure();
  for (const auto& account : accounts.value()) {
    auto names = entriesOf(root_ / account, EntryType::kDirectory);
    if (!names) return names.failure();
    for (const auto& list : names.value())
      lists.push_back(readList(root_, account, list));
  }
  return lists;
}

Result<ReminderList> VdirBackend::list(const std::string& identifier) const {
  auto names = listNamesOf(root_, identifier);
  if (!names)
    return Failure{"The list does not exist in this store.",
                   FailureKind::kNotFound};
  return readList(root_, names->account, names->list);
}

Outcome VdirBackend::readItems(
    const std::optional<std::vector<std::string>>& lists,
    ItemVisitor& visitor) {
  const Failure stopped{"The read was stopped."};
  std::vector<ListNames> names;
  if (lists) {
    for (const auto& identifier : *lists) {
      auto found = listNamesOf(root_, identifier);
      Outcome there = found ? openable(root_ / found->account / found->list,
                                       "The list folder could not be read.")
                            : Failure{"The list does not exist in this store.",
                                      FailureKind::kNotFound};
      if (!there && !visitor.failed(there.failure(), true)) return stopped;
      if (there) names.push_back(std::move(*found));
    }
  } else {
    struct stat info;
    if (::stat(root_.c_str(), &info) != 0) return done();  // no store yet
    if (Outcome root = openable(root_, "The store folder could not be read.");
        !root)
      return root;
    auto accounts = entriesOf(root_, EntryType::kDirectory);
    if (!accounts) return accounts.failure();
    for (const auto& account : accounts.value()) {
      auto lists = entriesOf(root_ / account, EntryType::kDirectory);
      if (!lists) return lists.failure();
      for (const auto& list : lists.value()) names.push_back({account, list});
    }
  }
  ItemFiles files;
  for (const auto& [account, list] : names)
    if (Outcome listed = files.addList(root_ / account / list,
                                       listIdentifier(account, list));
        !listed && !visitor.failed(listed.failure(), true))
      return stopped;
  return files.readAll(visitor);
}

Result<StoredItem> VdirBackend::readItem(const std::string& identifier) {
  auto opened = openItem(root_, identifier);
  if (!opened) return opened.failure();
  return readFileItem(
      std::make_shared<const Descriptor>(std::move(opened.value().list)),
      std::move(opened.value().listIdentifier),
      std::move(opened.value().fileName));
}

Result<StoredItem> VdirBackend::readItemNamed(const ItemVersion& beside,
                                              const std::string& name) {
  const FileVersion& sibling = fileOf(beside);
  return readFileItem(sibling.list, sibling.listIdentifier, name + ".ics");
}

Outcome VdirBackend::replaceItem(const ItemVersion& read,
                                 std::string_view text) {
  const FileVersion& file = fileOf(read);
  removeStaleTemporaries(file.list->get(), clock_());
  return replaceFile(file.list->get(), file.fileName, file.read, text);
}

Result<ItemVersionPtr> VdirBackend::addItem(const ItemVersion& beside,
                                            const std::string& name,
                                            std::string_view text) {
  const FileVersion& sibling = fileOf(beside);
  const int folder = sibling.list->get();
  const std::string fileName = name + ".ics";
  // The occurrence is the series' owner's, as private as the series.
  Result<FileStamp> added =
      createNewFile(folder, fileName, text, sibling.fileName);
  if (!added) return added.failure();
  return ItemVersionPtr(std::make_shared<const FileVersion>(
      sibling.list, sibling.listIdentifier, fileName,
      StampedContents{std::string(text), added.value()}));
}

Outcome VdirBackend::removeItem(const ItemVersion& read) {
  const FileVersion& file = fileOf(read);
  removeStaleTemporaries(file.list->get(), clock_());
  return removeFile(file.list->get(), file.fileName, file.read);
}

std::unique_ptr<ItemStore> makeVdirStore(const StoreLocation& location,
                                         Clock clock) {
  return std::make_unique<ItemStore>(
      std::make_unique<VdirBackend>(location.root, location.madeBelow, clock),
      std::move(clock));
}

std::unique_ptr<ReminderStore> makeVdirStore(Clock clock) {
  return makeVdirStore(defaultStoreLocation(), std::move(clock));
}

}  // namespace corvane
