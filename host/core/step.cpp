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
#include "status.h"
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
    return ExitOk;
  }

 private:
  static std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return std::string();
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
  }

  // Prints a mistake in the script and gives its status.
  bool mistake(const std::string& why, int& status, int code = ExitMistake) {
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
      return mistake(std::string("the block wrote outside ") + r.wroteOutside, status, ExitWroteOutside);
    }
    if (r.failed) {
      out_ << "error: " << escapeMessage(r.error) << "\n";
      status = ExitBlockError;
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

  // The commands: what each needs of the block (the check and its message
  // come before the command's own), and the member that carries it out.
  enum Needs { Anything, Loaded, Sized, Started };
  typedef bool (StepSession::*Handler)(const std::string& command, const std::string& rest, int& status);
  struct Command {
    const char* name;
    Needs needs;
    Handler run;
  };

  static const Command* findCommand(const std::string& name) {
    static const Command kCommands[] = {
        {"load", Anything, &StepSession::load},
        {"print", Anything, &StepSession::printCommand},
        {"refusedims", Anything, &StepSession::dimsAnswer},
        {"acceptdims", Anything, &StepSession::dimsAnswer},
        {"param", Loaded, &StepSession::param},
        {"setparam", Loaded, &StepSession::param},
        {"sizes", Loaded, &StepSession::sizes},
        {"cmdsizes", Loaded, &StepSession::sizes},
        {"width", Sized, &StepSession::width},
        {"start", Sized, &StepSession::start},
        {"t", Loaded, &StepSession::time},
        {"major", Loaded, &StepSession::stepKind},
        {"minor", Loaded, &StepSession::stepKind},
        {"hit", Loaded, &StepSession::hit},
        {"u", Started, &StepSession::vector},
        {"x", Started, &StepSession::vector},
        {"outputs", Started, &StepSession::call},
        {"update", Started, &StepSession::call},
        {"derivatives", Started, &StepSession::call},
        {"terminate", Started, &StepSession::call},
        {"flag", Sized, &StepSession::flag},
        {"exchange", Loaded, &StepSession::exchange},
        {"portarg", Loaded, &StepSession::portArg},
        {"porttimes", Loaded, &StepSession::portTimes},
        {"portdims", Loaded, &StepSession::portDims},
        {"frame", Loaded, &StepSession::frame},
    };
    for (const Command& c : kCommands)
      if (name == c.name) return &c;
    return nullptr;
  }

  bool execute(const std::string& command, const std::string& rest, int& status) {
    const Command* c = findCommand(command);
    // An unknown word is checked like a command of the block: before load it
    // is reported as coming before load.
    const Needs needs = c != nullptr ? c->needs : Loaded;
    if (needs != Anything && need(needs >= Sized, needs == Started, status, command) == nullptr) return false;
    if (c == nullptr) return mistake("unknown command '" + command + "'", status);
    return (this->*(c->run))(command, rest, status);
  }

  bool load(const std::string&, const std::string& rest, int& status) {
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

  bool printCommand(const std::string&, const std::string& what, int& status) { return print(what, status); }

  bool dimsAnswer(const std::string& command, const std::string&, int&) {
    acceptDims_ = command == "acceptdims";
    if (inst_) inst_->setAcceptDims(acceptDims_);
    return true;
  }

  bool param(const std::string& command, const std::string& rest, int& status) {
    Instance* in = inst_.get();
    std::string valueText = rest;
    long long k = 0;
    if (command == "setparam") {
      std::istringstream words(rest);
      std::string kText;
      words >> kText;
      if (!parseInt(kText, k) || k < 1 || static_cast<size_t>(k) > in->paramCount())
        return mistake("setparam needs a parameter number from 1 to " + std::to_string(in->paramCount()), status);
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

  bool sizes(const std::string& command, const std::string&, int& status) {
    Instance* in = inst_.get();
    if (!terminateDiscarded(status)) return false;
    if (!report(in->sizesCall(command == "cmdsizes"), status)) return false;
    if (command == "sizes" && in->sized()) {
      std::string why = in->checkCounts();
      if (!why.empty()) return mistake(why, status);
    }
    return true;
  }

  bool width(const std::string&, const std::string& rest, int& status) {
    std::istringstream words(rest);
    std::string which, nText;
    long long n;
    words >> which >> nText;
    if ((which != "in" && which != "out") || !parseInt(nText, n) || n < 0 || n > kMaxVectorLength)
      return mistake("width needs 'in' or 'out' and a width from 0 to " + std::to_string(kMaxVectorLength), status);
    if (which == "in")
      inst_->settleInputWidth(static_cast<int32_t>(n));
    else
      inst_->settleOutputWidth(static_cast<int32_t>(n));
    return true;
  }

  bool start(const std::string&, const std::string&, int& status) {
    Instance* in = inst_.get();
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

  // One number written as a TOML value (t, flag); false when it is none.
  bool scalarValue(const std::string& text, double& v) {
    std::string why;
    axArrayPtr a(arrayFromText(text, why));
    if (!a || axGetNumberOfElements(a.get()) != 1 || !axIsNumeric(a.get())) return false;
    v = axGetPr(a.get())[0];
    return true;
  }

  bool time(const std::string&, const std::string& rest, int& status) {
    double t;
    if (!scalarValue(rest, t)) return mistake("t needs a number", status);
    inst_->setTime(t);
    return true;
  }

  bool stepKind(const std::string& command, const std::string&, int&) {
    inst_->setStepKind(command == "major" ? MajorTimeStep : MinorTimeStep);
    return true;
  }

  bool hit(const std::string&, const std::string& rest, int& status) {
    if (rest != "0" && rest != "1") return mistake("hit needs 1 or 0", status);
    inst_->setHit(rest == "1");
    return true;
  }

  bool vector(const std::string& command, const std::string& rest, int& status) {
    Instance* in = inst_.get();
    std::vector<double> v;
    if (!readVector(rest, v, status)) return false;
    size_t want = command == "u" ? in->uLength() : in->xLength();
    if (v.size() != want)
      return mistake(command + " needs " + std::to_string(want) + " numbers, got " + std::to_string(v.size()), status);
    double* dst = command == "u" ? in->u() : in->x();
    for (size_t i = 0; i < v.size(); ++i) dst[i] = v[i];
    return true;
  }

  bool call(const std::string& command, const std::string&, int& status) {
    if (command == "terminate") return report(inst_->terminate(), status);
    const double flag = command == "outputs" ? FlagOutputs : command == "update" ? FlagUpdate : FlagDerivatives;
    return report(inst_->direct(flag), status);
  }

  bool flag(const std::string&, const std::string& rest, int& status) {
    double f;
    if (!scalarValue(rest, f)) return mistake("flag needs a number", status);
    // The flags of the callbacks up to mdlZeroCrossings use the vectors
    // start allocates.
    if (!inst_->started() && f >= static_cast<double>(FlagInitializeSampleTimes) &&
        f < static_cast<double>(FlagZeroCrossings + 1)) return mistake("flag " + rest + " before start", status);
    return report(inst_->direct(f), status);
  }

  bool exchange(const std::string&, const std::string& rest, int& status) {
    long long n;
    if (!parseInt(rest, n) || n < INT32_MIN || n > INT32_MAX) return mistake("exchange needs an integer", status);
    inst_->context().SizesVector[ExchangeArg] = static_cast<int32_t>(n);
    return true;
  }

  bool portArg(const std::string&, const std::string& rest, int& status) {
    long long n;
    if (!parseInt(rest, n) || n < INT32_MIN || n > INT32_MAX) return mistake("portarg needs an integer", status);
    inst_->simInfo().PortArgValue = static_cast<int32_t>(n);
    return true;
  }

  bool portTimes(const std::string&, const std::string& rest, int& status) {
    std::vector<double> v;
    if (!readVector(rest, v, status)) return false;
    if (v.size() != 2) return mistake("porttimes needs a sample time and an offset", status);
    inst_->simInfo().PortArgTimes[0] = v[0];
    inst_->simInfo().PortArgTimes[1] = v[1];
    return true;
  }

  bool portDims(const std::string&, const std::string& rest, int& status) {
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
    inst_->simInfo().PortArgDims = &dimsInfo_;
    return true;
  }

  bool frame(const std::string&, const std::string& rest, int& status) {
    std::istringstream words(rest);
    std::string portText, modeText;
    long long port, mode;
    words >> portText >> modeText;
    if (!parseInt(portText, port) || !parseInt(modeText, mode) || mode < 0 || mode > 3)
      return mistake("frame needs a port and a mode from 0 to 3", status);
    if (port < 0 || port >= inst_->inputPortCount()) return mistake("frame: no input port " + portText, status);
    setPortFrameMode(inst_->inputPort(static_cast<int32_t>(port)), static_cast<int>(mode));
    return true;
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
    return ExitOutOfMemory;
  }
}

int runSizesCommand(const std::string& name, const std::vector<std::string>& params, std::ostream& out,
                    std::ostream& err, const std::string& pluginDir) {
  std::string why;
  std::shared_ptr<Plugin> p = Plugin::load(pluginDir, name, why);
  if (!p) {
    err << "blocksim: " << why << "\n";
    return ExitMistake;
  }
  Instance inst(p, p->name());
  for (const std::string& text : params) {
    axArray* a = arrayFromText(text, why);
    if (a == nullptr) {
      err << "blocksim: " << why << "\n";
      return ExitMistake;
    }
    inst.addParam(a);
  }
  CallResult r = inst.sizesCall(true);
  if (r.failed) {
    out << "error: " << escapeMessage(r.error) << "\n";
    return ExitBlockError;
  }
  if (r.status != nullptr) {
    out << "error: " << escapeMessage(r.status) << "\n";
    return ExitBlockError;
  }
  std::string line("sizes:");
  for (double v : inst.sizes()) {
    line += ' ';
    appendNumber(line, v);
  }
  out << line << "\n";
  return ExitOk;
}

}  // namespace blocksim
