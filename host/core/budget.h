// The memory budget of a run or a step session: what the model (or script)
// asks the host to hold — parameter values, host source data, the blocks'
// vectors, the CSV row — is counted against one limit before it is
// allocated, so that a model asking for more is refused with a message
// naming what asked, instead of exhausting the machine.
#ifndef BLOCKSIM_BUDGET_H
#define BLOCKSIM_BUDGET_H

#include <stdint.h>

#include <string>

namespace blocksim {

// Largest element count the host allocates for one vector (and for one host
// source's outputs).
const int32_t kMaxVectorLength = 1 << 22;

// 1 GiB: room for any model of ordinary size on a small machine.
const uint64_t kDefaultMemoryLimit = uint64_t(1) << 30;

class MemoryBudget {
 public:
  explicit MemoryBudget(uint64_t limit = kDefaultMemoryLimit) : limit_(limit) {}
  // Counts bytes against the limit; false (nothing counted) when they do not
  // fit in what is left.
  bool take(uint64_t bytes) {
    if (bytes > limit_ - used_) return false;
    used_ += bytes;
    return true;
  }
  void give(uint64_t bytes) { used_ -= bytes < used_ ? bytes : used_; }
  uint64_t used() const { return used_; }
  uint64_t limit() const { return limit_; }
  // "the memory budget of 1024 MiB (--memory-limit MIB raises it)"
  std::string describe() const {
    return "the memory budget of " + mebibytes(limit_) + " MiB (--memory-limit MIB raises it)";
  }
  // Bytes in MiB for messages: with one decimal below 10 MiB, so that a
  // request just over a small limit does not read as equal to it.
  static std::string mebibytes(uint64_t bytes) {
    if (bytes >= (uint64_t(10) << 20)) return std::to_string((bytes + (uint64_t(1) << 19)) >> 20);
    const uint64_t tenths = (bytes * 10 + (uint64_t(1) << 19)) >> 20;
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
  }

 private:
  uint64_t limit_;
  uint64_t used_ = 0;
};

// Bytes the host holds for an array of `count` doubles (twice for a complex
// one), with a little for its record.
inline uint64_t arrayBytes(uint64_t count, bool complex = false) { return 64 + count * 8 * (complex ? 2 : 1); }

}  // namespace blocksim

#endif
