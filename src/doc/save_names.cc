#include "doc/save_names.h"

#include <sys/random.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

namespace {

constexpr char kRandomChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::string_view kUnfilled = "XXXXXX";
static_assert(kUnfilled.size() == kRandomSize);

// Writes `before`, `stem`, `after` and `random` into `name`, the stem cut so that the whole and
// `room` bytes more fit one folder entry. Returns the length: 0 when the rest alone does not fit.
std::size_t Compose(EntryName& name, std::string_view before, std::string_view stem,
                    std::string_view after, std::string_view random = {}, std::size_t room = 0) {
  std::size_t fixed = before.size() + after.size() + random.size() + room;
  name[0] = '\0';
  if (fixed > NAME_MAX) return 0;
  stem = stem.substr(0, NAME_MAX - fixed);
  char* end = name;
  for (std::string_view part : {before, stem, after, random}) {
    end = std::copy(part.begin(), part.end(), end);
  }
  *end = '\0';
  return static_cast<std::size_t>(end - name);
}

bool IsRandom(std::string_view part) {
  return part.size() == kRandomSize && std::all_of(part.begin(), part.end(), [](char c) {
           return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
         });
}

// True when `entry` is `pattern` with its random part filled.
bool Fills(std::string_view entry, std::string_view pattern) {
  std::size_t fixed = pattern.size() - kRandomSize;
  return entry.size() == pattern.size() && entry.substr(0, fixed) == pattern.substr(0, fixed) &&
         IsRandom(entry.substr(fixed));
}

}  // namespace

std::size_t TempPattern(std::string_view target, EntryName& name) noexcept {
  return Compose(name, ".", target, kTempMarker, kUnfilled);
}

std::size_t BackupPattern(std::string_view target, bool with_companion, EntryName& name) noexcept {
  return Compose(name, "", target, kBackupMarker, kUnfilled,
                 with_companion ? sizeof kCompanionSuffix - 1 : 0);
}

std::size_t CompanionName(std::string_view backup, EntryName& name) noexcept {
  return Compose(name, backup, "", kCompanionSuffix);
}

std::size_t HiddenRecoveryPattern(std::string_view base, EntryName& name) noexcept {
  return Compose(name, ".", base, "-", kUnfilled);
}

std::size_t RecoveryName(std::string_view base, int number, EntryName& name) noexcept {
  char suffix[16];
  char* digits = std::end(suffix);
  for (unsigned n = number > 0 ? static_cast<unsigned>(number) : 0; n > 0; n /= 10) {
    *--digits = static_cast<char>('0' + n % 10);
  }
  if (digits != std::end(suffix)) *--digits = '.';
  return Compose(name, "", base, {digits, static_cast<std::size_t>(std::end(suffix) - digits)});
}

void FillRandom(std::span<char> name) noexcept {
  if (name.size() < kRandomSize) return;
  unsigned char random[kRandomSize];
  if (getrandom(random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random)) {
    // No entropy yet: the clock and the process id will do, as a clash only means another try.
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    unsigned long long mix = (static_cast<unsigned long long>(now.tv_nsec) * 2654435761u) ^
                             (static_cast<unsigned long long>(getpid()) << 20) ^
                             static_cast<unsigned long long>(now.tv_sec);
    for (unsigned char& r : random) {
      r = static_cast<unsigned char>(mix);
      mix = (mix >> 8) | (mix << 56);
    }
  }
  std::span<char> part = name.last(kRandomSize);
  for (std::size_t i = 0; i < kRandomSize; ++i) {
    part[i] = kRandomChars[random[i] % (sizeof kRandomChars - 1)];
  }
}

bool IsTempOf(std::string_view entry, std::string_view target) noexcept {
  EntryName pattern;
  return Fills(entry, {pattern, TempPattern(target, pattern)});
}

bool IsBackupOf(std::string_view entry, std::string_view target) noexcept {
  EntryName pattern;
  return Fills(entry, {pattern, BackupPattern(target, false, pattern)});
}

bool IsHiddenRecoveryOf(std::string_view entry, std::string_view base) noexcept {
  EntryName pattern;
  return Fills(entry, {pattern, HiddenRecoveryPattern(base, pattern)});
}

bool IsBackup(std::string_view entry) noexcept {
  constexpr std::string_view mark = kBackupMarker;
  std::size_t end = mark.size() + kRandomSize;
  return entry.size() > end && entry.substr(entry.size() - end, mark.size()) == mark &&
         IsRandom(entry.substr(entry.size() - kRandomSize));
}
