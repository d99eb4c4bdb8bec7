// The seam every file-system step of a save passes through. By default each step just runs;
// tests and fuzzers set `before` to watch the steps in order or to fail any of them with an
// errno, as a full disk or a failing flush would.
#pragma once

#include <functional>

enum class FsStep {
  kCreateTemp,  // a new temporary file beside the target
  kOpenTarget,  // the target opened for writing in place
  kMatchOwner,  // the new file given the target's owner and permission bits
  kAllocate,    // space reserved before an in-place write
  kWrite,       // the bytes written
  kTruncate,    // the target cut to the new size
  kSync,        // the file flushed to disk
  kClose,       // the file closed
  kRename,      // the temporary file renamed over the target
  kSyncFolder,  // the folder's entry flushed to disk
  kRemoveTemp,  // a temporary file removed after a failure
};

struct FileSystem {
  /// Called before each step with the path it concerns: 0 lets the step run, an errno fails it.
  std::function<int(FsStep step, const char* path)> before;

  int Check(FsStep step, const char* path) const { return before ? before(step, path) : 0; }
};
