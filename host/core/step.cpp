#include "step.h"

#include <math.h>

#include <istream>
#include <memory>
#include <new>
#include <ostream>
#include <sstream>
#include <vector>

#include "instance.h"
#include "model.h"
#include "values.h"

namespace blocksim {

std::string escapeMessage(const std::string& msg) {
  std::string out;
  for (char c : msg) {
    if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

namespace {

struct ScriptError {
  std::string why;
  int status;
};

class StepSession {
 public:
  StepSession(std::ostream& out, std::ostream& err, const std::string& pluginDir, uint64_t memoryLimit, int& lineNo)
      : out_(out), err_(err), pluginDir_(pluginDir), lineNo_(lineNo), budget_(memoryLimit), memoryLimit_(memoryLimit) {}

  int run(std::istream& script) {
    std::string line;
    bool tooLong = false;
    while (readLine(script, line, kMaxLineBytes, tooLong)) {
      ++lineNo_;
      int status = 0;
      if (tooLong) {
        mistake("the line is longer than " + std::to_string(kMaxLineBytes >> 20) + " MiB", status);
        return status;
      }
      std::istringstream words(line);
      std::string command;
      if (!(words >> command) || command[0] == '#') continue;
      std::string rest;
      std::getline(words, rest);
      rest = trim(rest);
      if (!execute(command, rest, status)) return status;
    }
    return 0;
  }

 private:
  static std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return std::string();
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
  }

  // Prints a mistake in the script and gives its status.
  bool mistake(const std::string& why, int& status, int code = 2) {
    err_ << "blocksim: " << lineNo_ << ": " << why << "\n";
    status = code;
    return false;
  }

  Instance* need(bool sized, bool started, int& status, const std::string& command) {
    if (!inst_) {
      mistake(command + " before load", status);
      return nullptr;
    }
    if (sized && !inst_->sized()) {
      mistake(command + " before a successful sizes call", status);
      return nullptr;
    }
    if (started && !inst_->started()) {
      mistake(command + " before start", status);
      return nullptr;
    }
    return inst_.get();
  }

  // Reports what a call left; false when the script must stop.
  bool report(const CallResult& r, int& status) {
    for (const std::string& w : r.warnings) out_ << "warning: " << escapeMessage(w) << "\n";
    if (r.wroteOutside != nullptr) {
      out_.flush();
      return mistake(std::string("the block wrote outside ") + r.wroteOutside, status, 3);
    }
    if (r.failed) {
      out_ << "error: " << escapeMessage(r.error) << "\n";
      status = 1;
      return false;
    }
    if (r.status != nullptr) out_ << "status: " << escapeMessage(r.status) << "\n";
    return true;
  }

  // A started block that is about to be discarded (loaded again, sized
  // again, started again) gets its mdlTerminate first, so that what it holds
  // (an open file) is not lost; what the call says is reported as usual.
  bool terminateDiscarded(int& status) {
    if (!inst_ || !inst_->needsTerminate()) return true;
    return report(inst_->terminate(), status);
  }

  // The memory the block's vectors take, counted when it starts.
  bool chargeVectors(Instance& in, int& status) {
    budget_.give(vectorBytes_);
    vectorBytes_ = in.vectorBytes();
    if (budget_.take(vectorBytes_)) return true;
    const uint64_t bytes = vectorBytes_;
    vectorBytes_ = 0;
    return mistake("the block's vectors need " + MemoryBudget::mebibytes(bytes) + " MiB, more than is left of " +
                       budget_.describe(),
                   status);
  }

  bool parseInt(const std::string& text, long long& v) {
    double d;
    if (!parseNumber(text, d) || d != floor(d) || !(fabs(d) < 9e15)) return false;
    v = static_cast<long long>(d);
    return true;
  }

  bool readVector(const std::string& rest, std::vector<double>& v, int& status) {
    std::istringstream in(rest);
    std::string word;
    while (in >> word) {
      double d;
      if (!parseNumber(word, d)) return mistake("bad number '" + word + "'", status);
      v.push_back(d);
    }
    return true;
  }

  static void printVector(std::ostream& out, const char* prefix, const double* v, size_t n) {
    std::string line(prefix);
    for (size_t i = 0; i < n; ++i) {
      line += ' ';
      appendNumber(line, v[i]);
    }
    out << line << "\n";
  }

  bool print(const std::string& what, int& status) {
    if (what == "sizes") {
      if (!inst_ || inst_->sizes().empty()) return mistake("print sizes before a sizes call", status);
      printVector(out_, "sizes:", inst_->sizes().data(), inst_->sizes().size());
      return true;
    }
    if (what == "reset") {
      if (!inst_) return mistake("print reset before load", status);
      out_ << "reset: " << inst_->simInfo().ResetRequest << "\n";
      return true;
    }
    Instance* in = need(true, what != "ports", status, "print " + what);
    if (in == nullptr) return false;
    if (what == "y") printVector(out_, "y:", in->y(), in->yLength());
    else if (what == "u") printVector(out_, "u:", in->u(), in->uLength());
    else if (what == "x") printVector(out_, "x:", in->x(), in->xLength());
    else if (what == "dx") printVector(out_, "dx:", in->dx(), in->dxLength());
    else if (what == "rwork") printVector(out_, "rwork:", in->rwork(), in->rworkLength());
    else if (what == "iwork") {
      std::string line("iwork:");
      for (size_t i = 0; i < in->iworkLength(); ++i) line += " " + std::to_string(in->iwork()[i]);
      out_ << line << "\n";
    } else if (what == "sampletimes") {
      std::string line("sampletimes:");
      for (int32_t i = 0; i < in->numSampleTimes(); ++i) {
        line += ' ';
        appendNumber(line, in->sampleTimes()[i]);
        line += ' ';
        appendNumber(line, in->offsetTimes()[i]);
      }
      out_ << line << "\n";
    } else if (what == "ports") {
      for (int32_t i = 0; i < in->inputPortCount(); ++i) {
        const InputPortRecord* p = in->inputPort(i);
        std::string line = "port " + std::to_string(i) + ": dims " + std::to_string(in->portDims(i).first) + " " +
                           std::to_string(in->portDims(i).second) + " frame " +
                           std::to_string(portFrameMode(p)) + " complexity " + std::to_string(p->Complexity) +
                           " time ";
        appendNumber(line, p->PortSampleTime);
        line += ' ';
        appendNumber(line, p->PortOffsetTime);
        out_ << line << "\n";
      }
    } else {
      return mistake("print what? '" + what + "' (sizes, sampletimes, y, x, dx, u, iwork, rwork, reset, ports)",
                     status);
    }
    return true;
  }

  bool execute(const std::string& command, const std::string& rest, int& status) {
    if (command == "load") {
      if (rest.empty()) return mistake("load needs a plug-in name", status);
      if (!terminateDiscarded(status)) return false;
      std::string why;
      std::shared_ptr<Plugin> p = Plugin::load(pluginDir_, rest, why);
      if (!p) return mistake(why, status);
      inst_.reset();
      budget_ = MemoryBudget(memoryLimit_);
      vectorBytes_ = 0;
      inst_ = std::make_unique<Instance>(p, p->name());
      inst_->setAcceptDims(acceptDims_);  // the host's answer outlives the instance
      return true;
    }
    if (command == "print") return print(rest, status);
    if (command == "refusedims" || command == "acceptdims") {
      acceptDims_ = command == "acceptdims";
      if (inst_) inst_->setAcceptDims(acceptDims_);
      return true;
    }

    Instance* in = need(false, false, status, command);
    if (in == nullptr) return false;

    if (command == "param" || command == "setparam") {
      std::string valueText = rest;
      long long k = 0;
      if (command == "setparam") {
        std::istringstream words(rest);
        std::string kText;
        words >> kText;
        if (!parseInt(kText, k) || k < 1 || static_cast<size_t>(k) > in->paramCount())
          return mistake("setparam needs a parameter number from 1 to " + std::to_string(in->paramCount()),
                         status);
        std::getline(words, valueText);
        valueText = trim(valueText);
      }
      std::string why;
      axArray* a = arrayFromText(valueText, why, &budget_);
      if (a == nullptr) return mistake(why, status);
      if (command == "param") {
        in->addParam(a);
      } else {
        const axArray* old = in->param(static_cast<size_t>(k - 1));
        budget_.give(arrayBytes(static_cast<uint64_t>(axGetNumberOfElements(old)), axIsComplex(old)));
        in->setParam(static_cast<size_t>(k - 1), a);
      }
      return true;
    }
    if (command == "sizes" || command == "cmdsizes") {
      if (!terminateDiscarded(status)) return false;
      if (!report(in->sizesCall(command == "cmdsizes"), status)) return false;
      if (command == "sizes" && in->sized()) {
        std::string why = in->checkCounts();
        if (!why.empty()) return mistake(why, status);
      }
      return true;
    }
    if (command == "width") {
      if (need(true, false, status, command) == nullptr) return false;
      std::istringstream words(rest);
      std::string which, nText;
      long long n;
      words >> which >> nText;
      if ((which != "in" && which != "out") || !parseInt(nText, n) || n < 0 || n > kMaxVectorLength)
        return mistake("width needs 'in' or 'out' and a width from 0 to " + std::to_string(kMaxVectorLength),
                       status);
      if (which == "in")
        in->settleInputWidth(static_cast<int32_t>(n));
      else
        in->settleOutputWidth(static_cast<int32_t>(n));
      return true;
    }
    if (command == "start") {
      if (need(true, false, status, command) == nullptr) return false;
      int32_t* sv = in->context().SizesVector;
      if (!in->level2()) {
        if (sv[NumInputs] == -1) return mistake("the input width is not settled (width in N)", status);
        if (sv[NumOutputs] == -1) in->settleOutputWidth(sv[NumInputs]);
      }
      std::string why = in->checkCounts();
      if (!why.empty()) return mistake(why, status);
      if (!terminateDiscarded(status) || !chargeVectors(*in, status)) return false;
      return report(in->start(), status);
    }
    if (command == "t") {
      double t;
      std::string why;
      axArray* a = arrayFromText(rest, why);
      bool ok = a != nullptr && axGetNumberOfElements(a) == 1 && axIsNumeric(a);
      if (ok) t = axGetPr(a)[0];
      axDestroyArray(a);
      if (!ok) return mistake("t needs a number", status);
      in->setTime(t);
      return true;
    }
    if (command == "major" || command == "minor") {
      in->setStepKind(command == "major" ? 1 : 0);
      return true;
    }
    if (command == "hit") {
      if (rest != "0" && rest != "1") return mistake("hit needs 1 or 0", status);
      in->setHit(rest == "1");
      return true;
    }
    if (command == "u" || command == "x") {
      if (need(true, true, status, command) == nullptr) return false;
      std::vector<double> v;
      if (!readVector(rest, v, status)) return false;
      size_t want = command == "u" ? in->uLength() : in->xLength();
      if (v.size() != want)
        return mistake(command + " needs " + std::to_string(want) + " numbers, got " + std::to_string(v.size()),
                       status);
      double* dst = command == "u" ? in->u() : in->x();
      for (size_t i = 0; i < v.size(); ++i) dst[i] = v[i];
      return true;
    }
    if (command == "outputs" || command == "update" || command == "derivatives" || command == "terminate") {
      if (need(true, true, status, command) == nullptr) return false;
      double flag = command == "outputs" ? 104 : command == "update" ? 105 : command == "derivatives" ? 106 : 107;
      return report(in->direct(flag), status);
    }
    if (command == "flag") {
      if (need(true, false, status, command) == nullptr) return false;
      double f;
      std::string why;
      axArray* a = arrayFromText(rest, why);
      bool ok = a != nullptr && axGetNumberOfElements(a) == 1 && axIsNumeric(a);
      if (ok) f = axGetPr(a)[0];
      axDestroyArray(a);
      if (!ok) return mistake("flag needs a number", status);
      // Flags 101 to 108 reach callbacks that use the vectors start allocates.
      if (!in->started() && f >= 101 && f < 109) return mistake("flag " + rest + " before start", status);
      return report(in->direct(f), status);
    }
    if (command == "exchange") {
      long long n;
      if (!parseInt(rest, n) || n < INT32_MIN || n > INT32_MAX) return mistake("exchange needs an integer", status);
      in->context().SizesVector[ExchangeArg] = static_cast<int32_t>(n);
      return true;
    }
    if (command == "portarg") {
      long long n;
      if (!parseInt(rest, n) || n < INT32_MIN || n > INT32_MAX) return mistake("portarg needs an integer", status);
      in->simInfo().PortArgValue = static_cast<int32_t>(n);
      return true;
    }
    if (command == "porttimes") {
      std::vector<double> v;
      if (!readVector(rest, v, status)) return false;
      if (v.size() != 2) return mistake("porttimes needs a sample time and an offset", status);
      in->simInfo().PortArgTimes[0] = v[0];
      in->simInfo().PortArgTimes[1] = v[1];
      return true;
    }
    if (command == "portdims") {
      std::vector<double> v;
      if (!readVector(rest, v, status)) return false;
      if (v.empty() || v.size() > 33) return mistake("portdims needs a width and up to 32 dimensions", status);
      for (double d : v)
        if (d != floor(d) || !(fabs(d) <= INT32_MAX)) return mistake("portdims takes integers", status);
      portDims_.assign(v.begin() + 1, v.end());
      for (size_t i = 0; i < portDims_.size(); ++i) portDimsInt_[i] = static_cast<int32_t>(portDims_[i]);
      dimsInfo_.width = static_cast<int32_t>(v[0]);
      dimsInfo_.numDims = portDims_.empty() ? -1 : static_cast<int32_t>(portDims_.size());
      dimsInfo_.dims = portDims_.empty() ? nullptr : portDimsInt_;
      dimsInfo_.passThrough = 0;
      in->simInfo().PortArgDims = &dimsInfo_;
      return true;
    }
    if (command == "frame") {
      std::istringstream words(rest);
      std::string portText, modeText;
      long long port, mode;
      words >> portText >> modeText;
      if (!parseInt(portText, port) || !parseInt(modeText, mode) || mode < 0 || mode > 3)
        return mistake("frame needs a port and a mode from 0 to 3", status);
      if (port < 0 || port >= in->inputPortCount())
        return mistake("frame: no input port " + portText, status);
      setPortFrameMode(in->inputPort(static_cast<int32_t>(port)), static_cast<int>(mode));
      return true;
    }
    return mistake("unknown command '" + command + "'", status);
  }

  std::ostream& out_;
  std::ostream& err_;
  std::string pluginDir_;
  int& lineNo_;  // the caller's, so that it outlives the session
  std::unique_ptr<Instance> inst_;
  MemoryBudget budget_;
  uint64_t memoryLimit_;
  uint64_t vectorBytes_ = 0;  // of the started block, in budget_
  DimsInfo dimsInfo_{-1, -1, nullptr, 0};
  std::vector<double> portDims_;
  int32_t portDimsInt_[32] = {};
  bool acceptDims_ = true;  // SetInputPortDimsFn's answer, from refusedims / acceptdims
};

}  // namespace

int runStepScript(std::istream& script, std::ostream& out, std::ostream& err, const std::string& pluginDir,
                  uint64_t memoryLimit) {
  int line = 0;
  try {
    StepSession session(out, err, pluginDir, memoryLimit, line);
    return session.run(script);
  } catch (const std::bad_alloc&) {
    // The session is gone with the unwinding (its block terminated first).
    err << "blocksim: " << line << ": out of memory\n";
    return 6;
  }
}

int runSizesCommand(const std::string& name, const std::vector<std::string>& params, std::ostream& out,
                    std::ostream& err, const std::string& pluginDir) {
  std::string why;
  std::shared_ptr<Plugin> p = Plugin::load(pluginDir, name, why);
  if (!p) {
    err << "blocksim: " << why << "\n";
    return 2;
  }
  Instance inst(p, p->name());
  for (const std::string& text : params) {
    axArray* a = arrayFromText(text, why);
    if (a == nullptr) {
      err << "blocksim: " << why << "\n";
      return 2;
    }
    inst.addParam(a);
  }
  CallResult r = inst.sizesCall(true);
  if (r.failed) {
    out << "error: " << escapeMessage(r.error) << "\n";
    return 1;
  }
  if (r.status != nullptr) {
    out << "error: " << escapeMessage(r.status) << "\n";
    return 1;
  }
  std::string line("sizes:");
  for (double v : inst.sizes()) {
    line += ' ';
    appendNumber(line, v);
  }
  out << line << "\n";
  return 0;
}

}  // namespace blocksim
