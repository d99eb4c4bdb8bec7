#include "journal/journal.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/path.h"
#include "core/state_folder.h"

namespace {

constexpr std::string_view kSuffix = ".journal";
constexpr std::int64_t kSecond = 1'000'000'000;

std::int64_t Now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * kSecond + t.tv_nsec;
}

// A folder of the effective user's, reached by no link; made (0700) when missing.
bool OwnFolder(const std::string& path) {
  if (path.empty() || !MakeFolders(path).ok()) return false;
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid();
}

}  // namespace

std::string JournalFolder() {
  std::string state = StateFolder();
  if (!state.empty() && OwnFolder(state) && OwnFolder(JoinPath(state, "journal"))) {
    return JoinPath(state, "journal");
  }
  // Under sudo HOME may still be the invoking user's: the effective user's own home instead.
  struct passwd* user = getpwuid(geteuid());
  if (user == nullptr || user->pw_dir == nullptr || user->pw_dir[0] != '/') return {};
  state = JoinPath(user->pw_dir, ".local/state/morvax");
  std::string folder = JoinPath(state, "journal");
  return OwnFolder(state) && OwnFolder(folder) ? folder : std::string();
}

std::string BootId() {
  std::string id;
  Fd fd(open("/proc/sys/kernel/random/boot_id", O_RDONLY | O_CLOEXEC));
  if (!fd.valid() || !ReadUpTo(fd.get(), 64, id).ok()) return {};
  while (!id.empty() && id.back() == '\n') id.pop_back();
  return id;
}

Journal::~Journal() {
  StopFlusher();
}

void Journal::StopFlusher() {
  if (!thread_) return;
  pthread_mutex_lock(&mutex_);
  stop_ = true;
  pthread_cond_signal(&wake_);
  pthread_mutex_unlock(&mutex_);
  pthread_join(flusher_, nullptr);
  thread_ = false;
}

// Waits for an append, flushes, and lets a second pass before the next flush.
void* Journal::Flusher(void* self) {
  Journal& j = *static_cast<Journal*>(self);
  pthread_mutex_lock(&j.mutex_);
  while (!j.stop_) {
    if (!j.pending_.load()) {
      pthread_cond_wait(&j.wake_, &j.mutex_);
      continue;
    }
    std::int64_t due = j.last_flush_ns_ + kSecond;
    if (Now() < due) {
      timespec until = {static_cast<time_t>(due / kSecond), static_cast<long>(due % kSecond)};
      pthread_cond_timedwait(&j.wake_, &j.mutex_, &until);
      continue;
    }
    if (j.pending_.exchange(false) && j.fd_.valid()) (void)fdatasync(j.fd_.get());
    j.last_flush_ns_ = Now();
  }
  pthread_mutex_unlock(&j.mutex_);
  return nullptr;
}

namespace {

// Writes all of `bytes` to `fd`.
Status WriteWhole(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = RetryOnEintr([&] { return write(fd, bytes.data(), bytes.size()); });
    if (n < 0) return errno;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

// A new journal in `dir`, locked and holding `header`, flushed; its name goes to `name`.
Status MakeJournalFile(const Fd& dir, std::string_view header, Fd& fd, std::string& name) {
  for (int attempt = 0; !fd.valid() && attempt < 100; ++attempt) {
    char part[64];
    std::snprintf(part, sizeof part, "%d-%llx", static_cast<int>(getpid()),
                  static_cast<unsigned long long>(Now() + attempt));
    name = std::string(part) + std::string(kSuffix);
    fd = Fd(RetryOnEintr([&] {
      return openat(dir.get(), name.c_str(),
                    O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
    }));
    if (!fd.valid() && errno != EEXIST) return errno;
  }
  if (!fd.valid()) return EEXIST;
  int err = RetryOnEintr([&] { return flock(fd.get(), LOCK_EX | LOCK_NB); }) == 0 ? 0 : errno;
  if (err == 0) err = WriteWhole(fd.get(), header).err;
  if (err == 0 && fdatasync(fd.get()) != 0) err = errno;
  if (err != 0) unlinkat(dir.get(), name.c_str(), 0);
  return err;
}

}  // namespace

Status Journal::Begin(const std::string& folder, std::string_view header) {
  Fd dir(RetryOnEintr([&] { return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
  if (!dir.valid()) return errno;
  Fd fd;
  std::string name;
  if (Status made = MakeJournalFile(dir, header, fd, name); !made.ok()) return made;
  (void)fsync(dir.get());  // the journal stands; a folder flush that fails does not undo it
  path_ = JoinPath(folder, name);
  pthread_mutex_lock(&mutex_);
  fd_ = std::move(fd);
  pending_ = false;
  last_flush_ns_ = Now();
  pthread_mutex_unlock(&mutex_);
  StartFlusher();
  return 0;
}

void Journal::StartFlusher() {
  if (!cond_made_) {
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    cond_made_ = pthread_cond_init(&wake_, &attr) == 0;
    pthread_condattr_destroy(&attr);
  }
  if (thread_ || !cond_made_) return;
  // The flusher takes no signal: they all reach the thread that reads.
  sigset_t all, before;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &before);
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, 64 * 1024);
  stop_ = false;
  thread_ = pthread_create(&flusher_, &attr, &Journal::Flusher, this) == 0;
  pthread_attr_destroy(&attr);
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

Status Journal::Append(std::string_view record) {
  if (!fd_.valid()) return EBADF;
  if (Status written = WriteWhole(fd_.get(), record); !written.ok()) return written;
  if (!pending_.exchange(true)) {
    if (!thread_) {
      Flush();  // no flusher: every append is flushed as it is made
      return 0;
    }
    pthread_mutex_lock(&mutex_);
    pthread_cond_signal(&wake_);
    pthread_mutex_unlock(&mutex_);
  }
  return 0;
}

void Journal::Flush() {
  if (!pending_.load()) return;
  pthread_mutex_lock(&mutex_);
  if (pending_.exchange(false) && fd_.valid()) (void)fdatasync(fd_.get());
  last_flush_ns_ = Now();
  pthread_mutex_unlock(&mutex_);
}

void Journal::Remove() {
  if (!fd_.valid()) return;
  unlink(path_.c_str());
  pthread_mutex_lock(&mutex_);
  (void)fd_.Close();  // the lock goes with it
  pending_ = false;
  pthread_mutex_unlock(&mutex_);
  path_.clear();
}

namespace {

// Opens `path` for reading when it is a regular file of the effective user, reached by no link.
Fd OpenOwn(const std::string& path, int flags) {
  Fd fd(RetryOnEintr(
      [&] { return open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC); }));
  struct stat st;
  if (!fd.valid() || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
      st.st_uid != geteuid()) {
    return Fd();
  }
  return fd;
}

// The first frame of the journal open at `fd`: its header.
bool ReadHeaderOf(int fd, std::string& bytes, JournalHeader& header) {
  if (!ReadUpTo(fd, std::size_t{1} << 62, bytes).ok()) return false;
  JournalReader reader(bytes);
  std::string_view payload;
  return reader.Next(payload) && ReadHeader(payload, header);
}

}  // namespace

std::vector<FoundJournal> FindJournals(const std::string& folder) {
  std::vector<FoundJournal> found;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return found;
  while (dirent* entry = readdir(dir)) {
    std::string_view name = entry->d_name;
    if (name.size() <= kSuffix.size() || !name.ends_with(kSuffix)) continue;
    std::string path = JoinPath(folder, name);
    Fd fd = OpenOwn(path, O_RDONLY);
    if (!fd.valid()) continue;
    FoundJournal journal{path, {}, false};
    // Only the header is wanted: its frame is read, not the whole journal.
    std::string head;
    std::uint32_t length = 0;
    if (read(fd.get(), &length, 4) != 4 || length > (1u << 20)) continue;
    head.resize(8 + length);
    std::memcpy(head.data(), &length, 4);
    if (pread(fd.get(), head.data() + 4, 4 + length, 4) != static_cast<ssize_t>(4 + length)) {
      continue;
    }
    JournalReader reader(head);
    std::string_view payload;
    if (!reader.Next(payload) || !ReadHeader(payload, journal.header)) continue;
    journal.live = flock(fd.get(), LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    found.push_back(std::move(journal));
  }
  closedir(dir);
  return found;
}

Status ClaimJournal(const std::string& path, ClaimedJournal& claimed) {
  Fd fd = OpenOwn(path, O_RDONLY);
  if (!fd.valid()) return ENOENT;
  if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return errno;
  // Another start may have replayed and removed it between the open and the lock.
  struct stat held, named;
  if (fstat(fd.get(), &held) != 0 || lstat(path.c_str(), &named) != 0 ||
      held.st_dev != named.st_dev || held.st_ino != named.st_ino) {
    return ENOENT;
  }
  claimed.bytes.clear();
  JournalHeader header;
  if (!ReadHeaderOf(fd.get(), claimed.bytes, header)) return EINVAL;
  claimed.fd = std::move(fd);
  return 0;
}

bool TakeIdentity(int fd, const char* path, JournalHeader& header) {
  struct statx st;
  int flags = fd >= 0 ? AT_EMPTY_PATH : 0;
  if (statx(fd >= 0 ? fd : AT_FDCWD, fd >= 0 ? "" : path, flags,
            STATX_BASIC_STATS | STATX_BTIME, &st) != 0) {
    return false;
  }
  header.device = makedev(st.stx_dev_major, st.stx_dev_minor);
  header.inode = st.stx_ino;
  header.has_birth = (st.stx_mask & STATX_BTIME) != 0;
  header.birth_sec = header.has_birth ? st.stx_btime.tv_sec : 0;
  header.birth_nsec = header.has_birth ? st.stx_btime.tv_nsec : 0;
  return true;
}
