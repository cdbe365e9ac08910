// Test harness: drives a real plug-in (NAME.plgglx, loaded with dlopen)
// through the host core, as blocksim does.
#ifndef TESTS_HARNESS_H
#define TESTS_HARNESS_H

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "instance.h"

namespace harness {

// Parameter values (the instance takes ownership once added).
axArray* num(double v);
axArray* row(std::initializer_list<double> v);
axArray* row(const std::vector<double>& v);
axArray* col(std::initializer_list<double> v);
// An M x N matrix given row by row, as it is written.
axArray* mat(int rows, int cols, std::initializer_list<double> rowMajor);
axArray* str(const char* text);
axArray* empty(int rows = 0, int cols = 0);

std::shared_ptr<blocksim::Plugin> loadPlugin(const std::string& name);

// One block instance of a real plug-in.
class Block {
 public:
  explicit Block(const std::string& name, std::initializer_list<axArray*> params = {});

  blocksim::Instance& inst() { return *inst_; }
  BlockContext& ctx() { return inst_->context(); }
  void param(axArray* a) { inst_->addParam(a); }
  void setParam(size_t k, axArray* a) { inst_->setParam(k, a); }

  // The host sizes call; fails the test unless it succeeds.
  std::vector<double> sizes();
  // The host sizes call expected to end in the block's error message.
  std::string sizesError();
  // The host sizes call expected to leave a text in ErrorStatus.
  std::string sizesStatus();
  // Settles the widths of -1 entries and starts; fails the test on an error.
  void start(int inputWidth = 0, int outputWidth = -1);
  // Settles and starts, expecting the block's error message.
  std::string startError(int inputWidth = 0, int outputWidth = -1);

  // Sets u, calls mdlOutputs (expects success) and returns y.
  std::vector<double> outputs(const std::vector<double>& u = {});
  std::string outputsError(const std::vector<double>& u = {});
  void update(const std::vector<double>& u = {});
  std::vector<double> y() const;
  std::vector<double> x() const;
  std::vector<int32_t> iwork() const;
  std::vector<double> rwork() const;
  void setU(const std::vector<double>& u);
  void setX(const std::vector<double>& x);
  void t(double time) { inst_->setTime(time); }
  void hit(bool h) { inst_->setHit(h); }
  void major(bool m) { inst_->setStepKind(m ? 1 : 0); }
  int32_t resetRequest() { return inst_->simInfo().ResetRequest; }
  void clearResetRequest() { inst_->simInfo().ResetRequest = 0; }

 private:
  std::unique_ptr<blocksim::Instance> inst_;
};

// Expects a call to have succeeded, with no status text.
void expectOk(const blocksim::CallResult& r);

// The message of a block that was given `supplied` parameters where it
// expects `expected` (counted with the four fixed arguments, as the block
// reports them).
std::string wrongCount(int supplied, int expected);

// A raw call of a plug-in's plgFunction, as a host or the command line makes
// it: owns its argument arrays and the result. What the plug-in took with
// axCalloc is released after the call, as the host does when a command-line
// call ends.
struct RawCall {
  std::vector<axArray*> rhs;
  axArray* lhs[2] = {nullptr, nullptr};
  bool failed = false;
  std::string error;

  RawCall() = default;
  RawCall(const RawCall&) = delete;
  RawCall& operator=(const RawCall&) = delete;
  ~RawCall();
  // nrhs: the argument count the call claims (default: the size of rhs).
  void run(blocksim::Plugin& p, int nlhs, int nrhs = -1);
  // Entry i of the returned array, and all of them (none without a result).
  double entry(int i) const { return axGetPr(lhs[0])[i]; }
  std::vector<double> result() const;
};

}  // namespace harness

#endif
