// Where things are in a vdir store: the root, accounts, lists, item files
// and the identifiers that name them. Nothing here parses calendar data.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "store/reminder_list.h"

namespace corvane {

// $XDG_DATA_HOME/corvane when XDG_DATA_HOME is absolute, else
// $HOME/.local/share/corvane.
std::filesystem::path defaultStoreRoot();

// A name that may stand for an account, a list or an item: not empty, no
// "/" or NUL, not "." or "..", not beginning with ".".
bool isPlainName(const std::string& name);

// A directory that is not a symbolic link.
bool isRealDirectory(const std::filesystem::path& path);

// The names of the entries of `directory` that are plain names, of the
// wanted type (real directories or regular files, never symbolic links),
// in byte order. Empty when the directory cannot be read.
enum class EntryType { kDirectory, kRegularFile };
std::vector<std::string> entriesOf(const std::filesystem::path& directory,
                                   EntryType type);

// The first line of a metadata file, white space stripped; absent when the
// file is missing, unreadable, empty or says "None".
std::optional<std::string> readMetadata(const std::filesystem::path& file);

// "#RRGGBB" or "#RRGGBBAA" as components in 0..1; anything else has none.
std::optional<RgbColor> parseColor(const std::string& text);

// The list kept in `<root>/<account>/<list>`.
ReminderList readList(const std::filesystem::path& root,
                      const std::string& account, const std::string& list);

// The name of the entry of the open folder `dirFd` that corvane prints as
// `shown` (names are printed with bad UTF-8 repaired). A valid name that is
// present is itself, found without reading the folder; otherwise it is the
// one entry whose repaired name is `shown`. Absent when no entry prints as
// `shown`, or when two do: corvane refuses rather than guess between them.
std::optional<std::string> entryPrintedAs(int dirFd, const std::string& shown);

// The folder names of the list that `listIdentifier` ("<account>/<list>",
// as printed) selects under `root`: its two plain parts as they are on disk.
// Absent when the identifier does not have that form or names nothing.
struct ListNames {
  std::string account, list;
};
std::optional<ListNames> listNamesOf(const std::filesystem::path& root,
                                     const std::string& listIdentifier);

// Where an item lives. An identifier names a file only when it has
// exactly three plain parts, "<account>/<list>/<file>", and neither its
// account nor its list folder is a symbolic link or another kind of file;
// the file is "<file>.ics" in that list. Parts printed with U+FFFD select
// the entries they were printed for (entryPrintedAs).
struct ItemLocation {
  std::string listIdentifier;
  std::filesystem::path file;
};
std::optional<ItemLocation> locateItem(const std::filesystem::path& root,
                                       const std::string& identifier);

// The identifier of the item file `fileName` ("<name>.ics") in a list.
std::string itemIdentifier(const std::string& listIdentifier,
                           const std::string& fileName);

// Item files of a list directory: plain names ending in ".ics".
std::vector<std::string> itemFilesOf(const std::filesystem::path& listDir);

}  // namespace corvane
