// The seam every file-system step of a save passes through. By default each step just runs;
// tests and fuzzers set `before` to watch the steps in order or to fail any of them with an
// errno, as a full disk or a failing flush would.
#pragma once

#include <functional>

enum class FsStep {
  kCreateTemp,       // a new temporary file beside the target
  kOpenTarget,       // the target opened for writing in place
  kReadAttributes,   // the target's extended attributes and inode flags read
  kMatchFlags,       // the new file, still empty, given the target's inode flags
  kMatchAttributes,  // the new file given exactly the target's extended attributes
  kMatchOwner,       // the new file given the target's owner and group
  kMatchMode,        // the new file given the target's permission bits, once written (or the
                     // target its set-id bits again, after a write in place cleared them)
  kAllocate,         // space reserved before an in-place write
  kWrite,            // the bytes written
  kTruncate,         // the target cut to the new size
  kSync,             // the file flushed to disk
  kClose,            // the file closed
  kNameTemp,         // the unnamed temporary file given its name, once flushed
  kRename,           // the temporary file put in the target's place (by the next two, if any)
  kExchange,         // the temporary file exchanged with the target, where the file system can
  kRenameOver,       // where it cannot, the temporary file renamed over the target
  kExchangeBack,     // the exchange undone: what came out was not the target that was checked
  kRemoveOld,        // the old file removed, which the exchange left under the temporary name
  kSyncFolder,       // a folder's entry flushed to disk (the target's, or the backup's)
  kRemoveTemp,       // a temporary file removed after a failure

  // Before an in-place write, the old content is kept in a backup (see doc/save.h).
  kMakeStateFolder,  // the backup folder under the user's state folder created
  kRecordPath,       // there, the backup's companion written and flushed: the target's path
  kCreateBackup,     // a new backup file in a folder
  kCopyBackup,       // the old content copied into it
  kSyncBackup,       // the backup flushed to disk
  kNameBackup,       // the unnamed backup given its name, once flushed
  kRestore,          // the old content written back after a failed in-place write
  kRemoveBackup,     // the backup removed once it is no longer needed
};

struct FileSystem {
  /// Called before each step with the path it concerns: 0 lets the step run, an errno fails it.
  std::function<int(FsStep step, const char* path)> before;

  int Check(FsStep step, const char* path) const { return before ? before(step, path) : 0; }
};
