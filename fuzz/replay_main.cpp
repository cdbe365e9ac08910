// Replays fuzz inputs through a fuzz target without libFuzzer, for the test
// suite: each argument is an input file or a folder of them (read in name
// order). A target that crashes or aborts fails the run; otherwise prints how
// many inputs ran. With KIVREL_FUZZ_TRACE set, each input's name goes to
// standard output before the trace the target writes for it.
#include <dirent.h>
#include <stdint.h>
#include <stdio.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "plugins.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool listFolder(const std::string& path, std::vector<std::string>& files) {
  DIR* d = opendir(path.c_str());
  if (d == nullptr) return false;
  std::vector<std::string> names;
  while (dirent* e = readdir(d))
    if (e->d_name[0] != '.') names.push_back(e->d_name);
  closedir(d);
  std::sort(names.begin(), names.end());
  for (const std::string& n : names) files.push_back(path + "/" + n);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s INPUT|FOLDER...\n", argv[0]);
    return 2;
  }
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i)
    if (!listFolder(argv[i], files)) files.push_back(argv[i]);
  // Every input is read before the target starts: it may change the working
  // folder.
  std::vector<std::vector<char>> inputs;
  for (const std::string& f : files) {
    std::ifstream in(f, std::ios::binary);
    if (!in) {
      fprintf(stderr, "cannot read %s\n", f.c_str());
      return 2;
    }
    inputs.emplace_back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  LLVMFuzzerInitialize(&argc, &argv);
  const bool tracing = fuzz::tracing();
  for (size_t i = 0; i < files.size(); ++i) {
    fprintf(tracing ? stdout : stderr, "replay %s (%zu bytes)\n", files[i].c_str(), inputs[i].size());
    if (tracing) fflush(stdout);
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(inputs[i].data()), inputs[i].size());
  }
  printf("%zu inputs replayed\n", files.size());
  return 0;
}
