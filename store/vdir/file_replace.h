// Changing item files so that a change never overwrites what another
// program wrote in the meantime, and a crash at any moment leaves each
// item file wholly old or wholly new. Every call works on a name inside a
// folder that the caller opened once: nothing here walks a path, so a
// folder swapped for a link cannot lead a change elsewhere.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "store/instant.h"
#include "store/result.h"
#include "store/vdir/item_reader.h"
#include "store/vdir/temporary_file.h"

namespace corvane {

// The moments inside replaceFile at which a crash is survivable; tests use
// them to stop a writer half way or to let another program in.
enum class ReplaceStep {
  kTemporaryCreated,
  kHalfWritten,
  kWritten,
  kSynced,
  kChecked,
  kRenamed,
};
using ReplaceStepHook = std::function<void(ReplaceStep)>;

// Replaces the contents of `name` in `folder` with `contents`, keeping its
// name, permission bits, extended attributes (ACLs among them) and, where
// this process may, its owner. The new bytes go to a hidden temporary file
// beside it, flushed, which is then exchanged with the item in one step;
// when what came out is not exactly the file that was `read` (another
// program replaced, rewrote or re-permissioned it meanwhile), the two are
// exchanged back and the change is refused (kChanged). Also refused, with
// the folder as it was: a symbolic link or other non-regular file, a file
// whose mode bits do not let this process write it, a file with more than
// one name (hard links, which a replacement would part), a folder that
// lets files be added but none removed or renamed (kReadOnly), and any
// failing step. `atStep` is called after each step when set.
Outcome replaceFile(int folder, const std::string& name,
                    const StampedContents& read, std::string_view contents,
                    const ReplaceStepHook& atStep = {});

// Removes `name` from `folder`, unless it is not exactly the file that was
// `read`, is a symbolic link or not a regular file, or its mode bits do not
// let this process write it. The file is first moved aside under a hidden
// name and checked there, so another program's newer file is put back, not
// deleted.
Outcome removeFile(int folder, const std::string& name,
                   const StampedContents& read);

// Writes `contents` as a new file `name` in `folder`, made like its
// `sibling` there: its owner and group where this process may set them,
// its permission bits, ACLs and other extended attributes, as replaceFile
// keeps a file's own. Flushed under a hidden name, then given its name only
// if nothing has that name yet (kExists otherwise). Returns the new file's
// stamp, so that removeFile with these contents and that stamp takes it
// away again.
Result<FileStamp> createNewFile(int folder, const std::string& name,
                                std::string_view contents,
                                const std::string& sibling);

}  // namespace corvane
