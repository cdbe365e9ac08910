// The scratch folder a fuzz target works in: the files its inputs make (a
// block's file, a run's CSV and picture, a model's data files) land there,
// are listed in a trace by name, size and hash, and are removed after every
// input; the folder goes when the process ends.
#ifndef KIVREL_FUZZ_SCRATCH_H
#define KIVREL_FUZZ_SCRATCH_H

#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

namespace fuzz {

inline std::string& scratchFolder() {
  static std::string folder;
  return folder;
}

inline std::vector<std::string> scratchFiles() {
  std::vector<std::string> names;
  if (DIR* d = opendir(".")) {
    while (dirent* e = readdir(d))
      if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

inline void removeScratchFiles() {
  for (const std::string& name : scratchFiles()) unlink(name.c_str());
}

// Makes the folder and works in it; exits when it cannot.
inline void enterScratch() {
  char tmpl[] = "/tmp/kivrel-fuzz-XXXXXX";
  if (mkdtemp(tmpl) == nullptr || chdir(tmpl) != 0) {
    perror("fuzz: scratch folder");
    exit(2);
  }
  scratchFolder() = tmpl;
  atexit([] {
    removeScratchFiles();
    if (chdir("/") == 0) rmdir(scratchFolder().c_str());
  });
}

// "file NAME LENGTH HASH" for each file in the folder, in name order.
inline void traceFiles() {
  for (const std::string& name : scratchFiles()) {
    FILE* f = fopen(name.c_str(), "rb");
    uint64_t hash = 14695981039346656037ull;
    size_t length = 0;
    for (int c; f != nullptr && (c = fgetc(f)) != EOF; ++length) hash = (hash ^ static_cast<uint8_t>(c)) * 1099511628211ull;
    if (f != nullptr) fclose(f);
    printf("file %s %zu %016llx\n", name.c_str(), length, static_cast<unsigned long long>(hash));
  }
}

}  // namespace fuzz

#endif
