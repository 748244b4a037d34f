// Where things are in a vdir store: the root, accounts, lists, item files
// and the identifiers that name them. Nothing here parses calendar data.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "store/reminder_list.h"
#include "store/result.h"
#include "store/system/descriptor.h"

namespace corvane {

// Where the store is, and below which folder request_access may make it.
struct StoreLocation {
  std::filesystem::path root;
  // A folder that must exist already; only the missing folders between it
  // and the root (the root included) are ever made.
  std::filesystem::path madeBelow;
};

// $XDG_DATA_HOME/corvane when XDG_DATA_HOME is absolute, made below
// $XDG_DATA_HOME; else $HOME/.local/share/corvane, made below $HOME (the
// XDG rules let a program make the missing parts of its data home). A
// HOME that is not absolute is ignored like an unset one: the password
// database's home is taken.
StoreLocation defaultStoreLocation();
inline std::filesystem::path defaultStoreRoot() {
  return defaultStoreLocation().root;
}

// A name that may stand for an account, a list or an item: not empty, no
// "/" or NUL, not "." or "..", not beginning with ".".
bool isPlainName(const std::string& name);

// A directory that is not a symbolic link.
bool isRealDirectory(const std::filesystem::path& path);

// The names of the entries of `directory` that are plain names, of the
// wanted type (real directories or regular files, never symbolic links),
// in byte order. Empty when there is no such directory or this process may
// not read it (it holds nothing of the user's). Fails, with the system's
// kind and reason, when reading it fails otherwise: an input/output error,
// or no descriptor to be had within a bounded wait.
enum class EntryType { kDirectory, kRegularFile };
Result<std::vector<std::string>> entriesOf(
    const std::filesystem::path& directory, EntryType type);

// The first line of a metadata file, white space stripped; absent when the
// file is missing, unreadable, empty or says "None".
std::optional<std::string> readMetadata(const std::filesystem::path& file);

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
// Absent when the identifier does not have that form or names no list (a
// missing folder, or a symbolic link, which is no list of the store).
struct ListNames {
  std::string account, list;
};
std::optional<ListNames> listNamesOf(const std::filesystem::path& root,
                                     const std::string& listIdentifier);

// An item found from its identifier: its list folder, open, and the item's
// file name in it. An identifier names a file only when it has exactly
// three plain parts, "<account>/<list>/<file>"; the file is "<file>.ics".
// Parts printed with U+FFFD select the entries they were printed for
// (entryPrintedAs).
// The account and list folders are opened one step at a time without
// following symbolic links, so every later read and change through `list`
// stays in the store's own folders whatever is renamed meanwhile.
struct OpenedItem {
  Descriptor list;
  std::string listIdentifier;
  std::string fileName;
};
// Fails, with a plain reason, when the identifier names nothing (a malformed
// identifier, a missing or linked folder) or a folder cannot be opened.
Result<OpenedItem> openItem(const std::filesystem::path& root,
                            const std::string& identifier);

// The identifier of the list in folder `list` of account folder `account`:
// "<account>/<list>", printed.
std::string listIdentifier(const std::string& account, const std::string& list);

// The identifier of the item file `fileName` ("<name>.ics") in a list.
std::string itemIdentifier(const std::string& listIdentifier,
                           const std::string& fileName);

// Item files of a list directory: plain names ending in ".ics", as
// entriesOf finds them.
Result<std::vector<std::string>> itemFilesOf(
    const std::filesystem::path& listDir);

}  // namespace corvane
