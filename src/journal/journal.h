// The journal file of a session at a terminal: where it lives, its lock, its writes and its
// flushes, and the journals that other sessions left or keep. What goes into it is
// journal/record.h; when to write is the editor's business.
//
// A journal is a file NAME.journal (mode 0600) in the folder JournalFolder() gives (mode 0700),
// locked (flock, exclusive) for as long as its session runs: a journal nobody holds the lock of
// belongs to a session that is gone.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/fd.h"
#include "core/status.h"
#include "journal/record.h"

/// The folder of the user's journals under the effective user's state folder, made (0700) when
/// missing; empty when there is none that the effective user owns (as under sudo, where HOME
/// may still lead to the invoking user's): then the state folder under that user's home in the
/// password database is tried.
std::string JournalFolder();

/// This boot of the system, as /proc/sys/kernel/random/boot_id gives it (empty when unknown).
std::string BootId();

/// The journal this session keeps. Appends go out with one write each; a thread of its own
/// flushes them to disk (fdatasync) at most once a second and within a second of the first
/// unflushed one, and Flush does so at once.
class Journal {
 public:
  Journal() = default;
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  bool open() const { return fd_.valid(); }
  const std::string& path() const { return path_; }

  /// Makes a new journal in `folder`, locks it and writes `header` (a framed record), then
  /// flushes it and the folder. 0, or the errno of the step that failed (nothing is left).
  Status Begin(const std::string& folder, std::string_view header);
  /// Appends a framed record with one write. 0, or the errno of the write (the journal then
  /// holds a cut record at its end at most, which a replay stops before).
  Status Append(std::string_view record);
  /// Flushes what was appended and not yet flushed, now.
  void Flush();
  /// Removes the journal and gives its lock up.
  void Remove();

 private:
  static void* Flusher(void* self);
  void StartFlusher();
  void StopFlusher();

  Fd fd_;
  std::string path_;
  std::atomic<bool> pending_{false};  // appended since the last flush
  pthread_mutex_t mutex_ = PTHREAD_MUTEX_INITIALIZER;  // the descriptor while flushing
  pthread_cond_t wake_;
  bool cond_made_ = false;
  bool thread_ = false;  // the flusher runs
  bool stop_ = false;
  pthread_t flusher_{};
  std::int64_t last_flush_ns_ = 0;  // monotonic
};

/// A journal another session left or keeps.
struct FoundJournal {
  std::string path;
  JournalHeader header;
  bool live = false;  // its session holds the lock
};

/// The user's journals in `folder` (regular files of the effective user, reached by no link)
/// whose header can be read: each with whether a session still holds it.
std::vector<FoundJournal> FindJournals(const std::string& folder);

/// A journal claimed for replay: locked by this process, so that no other start replays it.
struct ClaimedJournal {
  Fd fd;
  std::string bytes;  // its whole content
};

/// Claims the journal at `path` when no session holds it and it is still there under that
/// name: a regular file of the effective user. 0, or why not (EWOULDBLOCK: held).
Status ClaimJournal(const std::string& path, ClaimedJournal& claimed);

/// Fills the header's identity of a file (device, inode, birth time where the file system
/// reports one) from the file open at `fd`, or at `path` when `fd` is -1. False when neither
/// can be asked.
bool TakeIdentity(int fd, const char* path, JournalHeader& header);
