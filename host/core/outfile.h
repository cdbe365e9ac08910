// Files a run writes (the CSV, the picture) and the checks made before the
// run on where they go. A regular file is written under a temporary name in
// its own folder and renamed into place when the run ends, so that nobody
// sees half a file, two runs to one file do not interleave, and a failed run
// leaves an older file untouched; a pipe or a device is written directly.
#ifndef BLOCKSIM_OUTFILE_H
#define BLOCKSIM_OUTFILE_H

#include <fstream>
#include <string>

namespace blocksim {

// What a path names, for telling two paths apart: the resolved path of an
// existing file, else the resolved folder and the name; "" when the folder
// does not exist.
std::string fileIdentity(const std::string& path);
// Whether the text holds a control character (a line feed, for one).
bool hasControlCharacter(const std::string& text);

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Opens the file: a regular or new file through a temporary file beside
  // it; anything else that can be opened for writing (a pipe, a device)
  // directly. Returns "" or why it cannot be written.
  std::string open(const std::string& path);
  std::ostream& stream() { return out_; }
  // Closes the stream and renames the temporary file into place; false (with
  // why) when that fails. Whatever was written so far is kept.
  bool commit(std::string& why);

 private:
  std::string path_, temp_;
  std::ofstream out_;
};

// A file of our own beside path (for a picture another program writes):
// made with mode 0600 under a name starting with '.', removed when the object
// goes unless it was renamed into place.
class TempBeside {
 public:
  explicit TempBeside(const std::string& path);
  ~TempBeside();
  TempBeside(const TempBeside&) = delete;
  TempBeside& operator=(const TempBeside&) = delete;
  const std::string& path() const { return temp_; }  // "" when it could not be made
  // Gives the file the mode a new file of the user would have (or the mode of
  // the file it replaces) and renames it to the target.
  bool moveIntoPlace(std::string& why);

 private:
  std::string target_, temp_;
};

// A temporary folder of ours, removed with what is in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return dir_; }  // "" when it could not be made

 private:
  std::string dir_;
};

}  // namespace blocksim

#endif
