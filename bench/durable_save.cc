// The least a durable whole-file save can do, as a yardstick for the editor's load and save:
// reads FILE whole into memory, writes it to a new file in the same folder, flushes that, renames
// it over FILE and flushes the folder. Keeps nothing else (no mode, owner or attributes).
//
// Usage: durable_save FILE
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace {

int Fail(const std::string& what) {
  std::fprintf(stderr, "durable_save: %s: %s\n", what.c_str(), std::strerror(errno));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: durable_save FILE\n");
    return 2;
  }
  std::string path = argv[1];
  std::size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  std::string temp = (slash == std::string::npos ? "" : folder) + ".durable_save.tmp";

  int in = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return Fail(path);
  struct stat st;
  if (fstat(in, &st) != 0) return Fail(path);
  std::size_t size = static_cast<std::size_t>(st.st_size);
  std::unique_ptr<char[]> bytes(new char[size > 0 ? size : 1]);  // left uncleared
  std::size_t have = 0;
  while (have < size) {
    ssize_t n = read(in, bytes.get() + have, size - have);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail(path);
    if (n == 0) break;
    have += static_cast<std::size_t>(n);
  }
  close(in);

  int out = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (out < 0) return Fail(temp);
  for (std::size_t done = 0; done < have;) {
    ssize_t n = write(out, bytes.get() + done, have - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail(temp);
    done += static_cast<std::size_t>(n);
  }
  if (fsync(out) != 0 || close(out) != 0) return Fail(temp);
  if (rename(temp.c_str(), path.c_str()) != 0) return Fail(path);
  int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0 || fsync(dir) != 0) return Fail(folder);
  close(dir);
  return 0;
}
