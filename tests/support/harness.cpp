#include "harness.h"

#include <string.h>

namespace harness {

axArray* num(double v) { return row({v}); }

axArray* row(const std::vector<double>& v) {
  axArray* a = axCreateDoubleMatrix(v.empty() ? 0 : 1, static_cast<int>(v.size()), 0);
  if (!v.empty()) memcpy(axGetPr(a), v.data(), v.size() * sizeof(double));
  return a;
}

axArray* row(std::initializer_list<double> v) { return row(std::vector<double>(v)); }

axArray* col(std::initializer_list<double> v) {
  axArray* a = axCreateDoubleMatrix(static_cast<int>(v.size()), v.size() == 0 ? 0 : 1, 0);
  size_t i = 0;
  for (double d : v) axGetPr(a)[i++] = d;
  return a;
}

axArray* mat(int rows, int cols, std::initializer_list<double> rowMajor) {
  axArray* a = axCreateDoubleMatrix(rows, cols, 0);
  EXPECT_EQ(rowMajor.size(), static_cast<size_t>(rows) * static_cast<size_t>(cols));
  size_t i = 0;
  for (double d : rowMajor) {
    size_t r = i / static_cast<size_t>(cols), c = i % static_cast<size_t>(cols);
    if (i < static_cast<size_t>(rows) * static_cast<size_t>(cols)) axGetPr(a)[r + static_cast<size_t>(rows) * c] = d;
    ++i;
  }
  return a;
}

axArray* str(const char* text) { return axCreateCharArray(text); }
axArray* empty(int rows, int cols) { return axCreateDoubleMatrix(rows, cols, 0); }

std::shared_ptr<blocksim::Plugin> loadPlugin(const std::string& name) {
  std::string why;
  std::shared_ptr<blocksim::Plugin> p = blocksim::Plugin::load(KIVREL_PLUGIN_DIR, name, why);
  if (!p) ADD_FAILURE() << why;
  return p;
}

void expectOk(const blocksim::CallResult& r) {
  EXPECT_FALSE(r.failed) << "error: " << r.error;
  EXPECT_EQ(r.status, nullptr) << "status: " << r.status;
  EXPECT_EQ(r.wroteOutside, nullptr) << "wrote outside " << r.wroteOutside;
}

std::string wrongCount(int supplied, int expected) {
  return "Wrong number of input arguments passed to S-function PLG-file.\n" + std::to_string(supplied + 4) +
         " input arguments were passed in when expecting " + std::to_string(expected + 4) + " input arguments.\n";
}

RawCall::~RawCall() {
  for (axArray* a : rhs) axDestroyArray(a);
  axDestroyArray(lhs[0]);
}

void RawCall::run(blocksim::Plugin& p, int nlhs, int nrhs) {
  struct Args {
    blocksim::PlgFunctionPtr fn;
    int nlhs, nrhs;
    RawCall* self;
  } args{p.function(), nlhs, nrhs >= 0 ? nrhs : static_cast<int>(rhs.size()), this};
  char msg[1024];
  failed = plgProtectedCall(
               [](void* a) {
                 Args* x = static_cast<Args*>(a);
                 x->fn(x->nlhs, x->self->lhs, x->nrhs, const_cast<const axArray**>(x->self->rhs.data()));
               },
               &args, msg, sizeof msg) != 0;
  if (failed) error = msg;
  axReleaseCallocs();
}

std::vector<double> RawCall::result() const {
  if (failed || lhs[0] == nullptr) return {};
  return std::vector<double>(axGetPr(lhs[0]), axGetPr(lhs[0]) + axGetNumberOfElements(lhs[0]));
}

Block::Block(const std::string& name, std::initializer_list<axArray*> params) {
  std::shared_ptr<blocksim::Plugin> p = loadPlugin(name);
  if (!p) throw std::runtime_error("cannot load " + name);
  inst_ = std::make_unique<blocksim::Instance>(p, name);
  for (axArray* a : params) inst_->addParam(a);
}

std::vector<double> Block::sizes() {
  blocksim::CallResult r = inst_->sizesCall();
  expectOk(r);
  return inst_->sizes();
}

std::string Block::sizesError() {
  blocksim::CallResult r = inst_->sizesCall();
  EXPECT_TRUE(r.failed) << "the sizes call succeeded";
  return r.error;
}

std::string Block::sizesStatus() {
  blocksim::CallResult r = inst_->sizesCall();
  EXPECT_FALSE(r.failed) << r.error;
  return r.status != nullptr ? r.status : "";
}

void Block::start(int inputWidth, int outputWidth) {
  if (!inst_->sized()) sizes();
  inst_->settleInputWidth(inputWidth);
  inst_->settleOutputWidth(outputWidth >= 0 ? outputWidth : inst_->context().SizesVector[NumInputs]);
  std::string why = inst_->checkCounts();
  ASSERT_EQ(why, "");
  expectOk(inst_->start());
}

std::string Block::startError(int inputWidth, int outputWidth) {
  if (!inst_->sized()) sizes();
  inst_->settleInputWidth(inputWidth);
  inst_->settleOutputWidth(outputWidth >= 0 ? outputWidth : inst_->context().SizesVector[NumInputs]);
  blocksim::CallResult r = inst_->start();
  EXPECT_TRUE(r.failed) << "start succeeded";
  return r.error;
}

void Block::setU(const std::vector<double>& u) {
  ASSERT_EQ(u.size(), inst_->uLength());
  for (size_t i = 0; i < u.size(); ++i) inst_->u()[i] = u[i];
}

void Block::setX(const std::vector<double>& x) {
  ASSERT_EQ(x.size(), inst_->xLength());
  for (size_t i = 0; i < x.size(); ++i) inst_->x()[i] = x[i];
}

std::vector<double> Block::outputs(const std::vector<double>& u) {
  if (!u.empty() || inst_->uLength() == 0) setU(u);
  expectOk(inst_->outputs());
  return y();
}

std::string Block::outputsError(const std::vector<double>& u) {
  if (!u.empty() || inst_->uLength() == 0) setU(u);
  blocksim::CallResult r = inst_->outputs();
  EXPECT_TRUE(r.failed) << "mdlOutputs succeeded";
  return r.error;
}

void Block::update(const std::vector<double>& u) {
  if (!u.empty() || inst_->uLength() == 0) setU(u);
  expectOk(inst_->update());
}

std::vector<double> Block::y() const { return std::vector<double>(inst_->y(), inst_->y() + inst_->yLength()); }
std::vector<double> Block::x() const { return std::vector<double>(inst_->x(), inst_->x() + inst_->xLength()); }
std::vector<double> Block::rwork() const {
  return std::vector<double>(inst_->rwork(), inst_->rwork() + inst_->rworkLength());
}
std::vector<int32_t> Block::iwork() const {
  return std::vector<int32_t>(inst_->iwork(), inst_->iwork() + inst_->iworkLength());
}

}  // namespace harness
