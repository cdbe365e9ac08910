#include "outfile.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "plot.h"

namespace blocksim {

namespace {

std::string folderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file to replace: the target itself, or the file a link at the target
// points to (the link stays a link).
std::string resolvedTarget(const std::string& path) {
  char real[PATH_MAX];
  struct stat st;
  if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && realpath(path.c_str(), real) != nullptr) return real;
  return path;
}

// The mode a new file gets (0666 less the umask), or that of the file it
// replaces.
mode_t modeFor(const std::string& target) {
  struct stat st;
  if (stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return st.st_mode & 07777;
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// Makes a temporary file beside target; returns its path and descriptor.
int makeTempBeside(const std::string& target, std::string& temp) {
  std::string pattern = folderOf(target) + "/." + nameOf(target) + ".XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  int fd = mkstemp(buf.data());
  temp = fd >= 0 ? std::string(buf.data()) : std::string();
  return fd;
}

}  // namespace

std::string fileIdentity(const std::string& path) {
  char real[PATH_MAX];
  if (realpath(path.c_str(), real) != nullptr) return real;
  if (realpath(folderOf(path).c_str(), real) == nullptr) return std::string();
  return std::string(real) + "/" + nameOf(path);
}

bool hasControlCharacter(const std::string& text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return true;
  return false;
}

// ---------------------------------------------------------------------------

OutputFile::~OutputFile() {
  if (!temp_.empty()) {
    out_.close();
    unlink(temp_.c_str());
  }
}

std::string OutputFile::open(const std::string& path) {
  path_ = resolvedTarget(path);
  struct stat st;
  const bool exists = stat(path_.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) return "it is a folder";
  if (exists && !S_ISREG(st.st_mode)) {
    // A pipe or a device takes the rows as they come.
    out_.open(path_, std::ios::binary | std::ios::out);
    return out_ ? std::string() : std::string(strerror(errno));
  }
  int fd = makeTempBeside(path_, temp_);
  if (fd < 0) return strerror(errno);
  fchmod(fd, modeFor(path_));
  close(fd);
  out_.open(temp_, std::ios::binary | std::ios::trunc);
  if (!out_) {
    unlink(temp_.c_str());
    temp_.clear();
    return "cannot open a temporary file beside it";
  }
  return std::string();
}

bool OutputFile::commit(std::string& why) {
  out_.close();
  if (temp_.empty()) return true;
  const std::string temp = temp_;
  temp_.clear();
  if (rename(temp.c_str(), path_.c_str()) != 0) {
    why = strerror(errno);
    unlink(temp.c_str());
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------

TempBeside::TempBeside(const std::string& path) : target_(resolvedTarget(path)) {
  int fd = makeTempBeside(target_, temp_);
  if (fd >= 0) close(fd);
}

TempBeside::~TempBeside() {
  if (!temp_.empty()) unlink(temp_.c_str());
}

bool TempBeside::moveIntoPlace(std::string& why) {
  if (temp_.empty()) return false;
  chmod(temp_.c_str(), modeFor(target_));
  if (rename(temp_.c_str(), target_.c_str()) != 0) {
    why = strerror(errno);
    return false;
  }
  temp_.clear();
  return true;
}

// ---------------------------------------------------------------------------

TempDir::TempDir() : dir_(makeTempDir()) {}

TempDir::~TempDir() {
  if (dir_.empty()) return;
  if (DIR* d = opendir(dir_.c_str())) {
    while (dirent* e = readdir(d))
      if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) unlink((dir_ + "/" + e->d_name).c_str());
    closedir(d);
  }
  rmdir(dir_.c_str());
}

}  // namespace blocksim
