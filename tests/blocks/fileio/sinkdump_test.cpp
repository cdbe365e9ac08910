// sinkdump: the bytes of each record format, the trigger pulse number rule,
// when the file is created and closed, the messages and where they arise, and
// failed writes and closes reported without leaving a stale handle. Files go
// to a fresh temporary directory.
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "harness.h"

using namespace harness;

namespace {

typedef std::vector<double> V;

// A temporary directory (short enough for the 31 characters of a name) and
// the files the tests made in it, removed at the end.
struct TempDir {
  std::string path;
  std::vector<std::string> files;
  TempDir() {
    char tmpl[] = "/tmp/sinkXXXXXX";
    path = mkdtemp(tmpl);
  }
  ~TempDir() {
    for (const std::string& f : files) unlink(f.c_str());
    rmdir(path.c_str());
  }
  std::string file(const std::string& name) {
    files.push_back(path + "/" + name);
    return files.back();
  }
};

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

std::string contents(const std::string& path) {
  std::string out;
  if (FILE* f = fopen(path.c_str(), "rb")) {
    for (int c; (c = fgetc(f)) != EOF;) out += static_cast<char>(c);
    fclose(f);
  }
  return out;
}

Block sink(const std::string& file, const char* type, axArray* pulse = nullptr) {
  return Block("sinkdump", {str(file.c_str()), str(type), pulse ? pulse : num(0), num(0.5)});
}

// One rising edge carrying the data (the output stays 0), then the trigger falls.
void edge(Block& b, V data) {
  data.push_back(1);
  EXPECT_EQ(b.outputs(data), V{0.0});
  data.back() = 0;
  b.outputs(data);
}

// The file written by one record per data vector at successive edges, or
// (pulse given) by the edge numbers as integer records.
std::string written(const char* type, const std::vector<V>& records, axArray* pulse = nullptr) {
  TempDir dir;
  std::string path = dir.file("out");
  Block b = sink(path, type, pulse);
  b.start(static_cast<int>(records[0].size()) + 1);
  for (const V& r : records) edge(b, r);
  expectOk(b.inst().terminate());
  return contents(path);
}

std::string pulseRecords(axArray* pulse, int edges) {
  std::vector<V> records;
  for (int e = 1; e <= edges; ++e) records.push_back({static_cast<double>(e)});
  return written("integer", records, pulse);
}

TEST(Sinkdump, RecordFormats) {
  EXPECT_EQ(written("float", {{1, 2.5, -3}, {1e-7, 1e6, 0.1}, {123456789, INFINITY, -0.000123456789}}),
            " 1 2.5 -3\n 1e-07 1e+06 0.1\n 1.23457e+08 inf -0.000123457\n");
  EXPECT_EQ(written("integer", {{1.9, -2.7}, {2147483647, 3e9}}), " 1 -2\n 2147483647 -2147483648\n");
  // Each element other than 0.0 as the low byte of its truncated value.
  EXPECT_EQ(written("ascii", {{72, 105, 0}, {321, -1, 0.9}}), std::string("Hi\x41\xFF\x00", 5));
  EXPECT_EQ(written("ASCII", {{72.7, -0.0}}), "H");
  // Little-endian IEEE 754 doubles, back to back.
  EXPECT_EQ(written("binary", {{1.0, -2.5}, {0.1, 0}}),
            std::string("\x00\x00\x00\x00\x00\x00\xF0\x3F"
                        "\x00\x00\x00\x00\x00\x00\x04\xC0"
                        "\x9A\x99\x99\x99\x99\x99\xB9\x3F"
                        "\x00\x00\x00\x00\x00\x00\x00\x00",
                        32));
  // Trigger only: an empty line per text record, nothing otherwise.
  EXPECT_EQ(written("float", {{}, {}}), "\n\n");
  EXPECT_EQ(written("ascii", {{}}) + written("binary", {{}}), "");
}

TEST(Sinkdump, TriggerPulseNumber) {
  EXPECT_EQ(pulseRecords(num(2), 8), " 1\n 4\n 7\n");
  EXPECT_EQ(pulseRecords(row({0, 1}), 4), " 2\n 3\n 4\n");
  EXPECT_EQ(pulseRecords(row({0, 0}), 3), " 1\n 2\n 3\n");
  EXPECT_EQ(pulseRecords(col({1, 2.5}), 8), " 3\n 5\n 7\n");  // Q compared unrounded
}

TEST(Sinkdump, EdgesFileCreationAndClose) {
  TempDir dir;
  std::string path = dir.file("e");
  Block b = sink(path, "integer", row({0, 1}));
  b.start(2);
  b.outputs({1, 0.5});  // equal to the threshold: an edge
  b.outputs({2, 9});    // still high
  b.outputs({3, NAN});  // NaN is low
  EXPECT_FALSE(exists(path));
  b.outputs({4, 0.5});
  EXPECT_EQ(b.iwork(), (std::vector<int32_t>{1, 0, 1}));
  expectOk(b.inst().terminate());
  EXPECT_EQ(b.inst().pwork()[0], nullptr);  // no stale handle
  expectOk(b.inst().terminate());           // so no second close
  EXPECT_EQ(contents(path), " 4\n");
}

TEST(Sinkdump, SizesMessages) {
  EXPECT_EQ(Block("sinkdump", {str("f"), str("float"), num(0)}).sizesError(), wrongCount(3, 4));
  EXPECT_EQ(Block("sinkdump", {axCreateClassMatrix(2, 2, axCHAR_CLASS, false), str("float"), num(0), num(0)})
                .sizesError(),
            "Filename should be a string vector.");
  EXPECT_EQ(Block("sinkdump", {str("f"), axCreateClassMatrix(2, 2, axCHAR_CLASS, false), num(0), num(0)})
                .sizesError(),
            "Data Type should be a string vector.");
  for (axArray* pulse : {row({}), row({1, 2, 3})})
    EXPECT_EQ(sink("f", "float", pulse).sizesError(), "Dimension for trigger pulse number is incorrect.");
  EXPECT_EQ(Block("sinkdump", {str("f"), str("float"), num(0), empty()}).sizesError(),
            "Threshold must not be empty.");
}

TEST(Sinkdump, RecordMessages) {
  TempDir dir;
  // An illegal type is found when the first record is due, after the file
  // has been created; the file is closed with the error.
  std::string path = dir.file("bad");
  Block cap = sink(path, "Float");
  cap.start(2);
  EXPECT_EQ(cap.outputsError({1, 1}), "Data type is not a legal string.");
  EXPECT_TRUE(exists(path));
  EXPECT_EQ(cap.inst().pwork()[0], nullptr);

  // A data type that is no character array fails at the first edge, before
  // the edge is counted.
  Block numeric("sinkdump", {str(dir.file("n").c_str()), num(3), num(0), num(0.5)});
  numeric.start(2);
  EXPECT_EQ(numeric.outputsError({1, 1}), "Error in Data Type specification.");
  EXPECT_EQ(numeric.iwork()[1], 0);

  Block missing = sink("/nonexistent-dir/f", "float");
  missing.start(2);
  EXPECT_EQ(missing.outputsError({1, 1}), "Error in opening the data file /nonexistent-dir/f");

  // Only the first 31 characters of the name are used.
  const std::string letters = "abcdefghijklmnopqrstuvwxyz";
  Block cut = sink(dir.path + "/" + letters, "float");
  cut.start(2);
  edge(cut, {1});
  expectOk(cut.inst().terminate());
  EXPECT_EQ(contents(dir.file(letters.substr(0, 31 - dir.path.size() - 1))), " 1\n");

  Block none = sink(dir.file("w"), "float");
  none.start(0);
  EXPECT_EQ(none.outputsError({}), "The input must have at least one element, the trigger.");
}

TEST(Sinkdump, FailedWriteOrCloseIsReported) {
  // Buffered records that cannot reach a full disk fail at the close.
  Block small = sink("/dev/full", "float");
  small.start(2);
  edge(small, {1});
  blocksim::CallResult r = small.inst().terminate();
  EXPECT_EQ(r.error, "Error in closing the data file /dev/full");
  EXPECT_EQ(small.inst().pwork()[0], nullptr);
  // So they do when a run initialised again closes the earlier file.
  expectOk(small.inst().direct(FlagInitializeConditions));
  edge(small, {1});
  EXPECT_EQ(small.inst().direct(FlagInitializeConditions).error, "Error in closing the data file /dev/full");
  EXPECT_EQ(small.inst().pwork()[0], nullptr);

  // A record larger than the stream's buffer fails at once.
  Block big = sink("/dev/full", "binary");
  big.start(2001);
  EXPECT_EQ(big.outputsError(V(2001, 1.0)), "Error in writing the data file /dev/full");
  EXPECT_EQ(big.inst().pwork()[0], nullptr);

  // Later records fail once the buffer must be written; the block then
  // reports the lost file rather than quietly starting it afresh.
  Block lines = sink("/dev/full", "float");
  lines.start(1001);
  std::string error;
  for (int e = 0; e < 10 && error.empty(); ++e) {
    lines.setU(V(1001, 1.0));
    r = lines.inst().outputs();
    error = r.error;
    lines.outputs(V(1001, 0.0));
  }
  EXPECT_EQ(error, "Error in writing the data file /dev/full");
  EXPECT_EQ(lines.inst().pwork()[0], nullptr);
  EXPECT_EQ(lines.outputsError(V(1001, 1.0)), "File point has lost.");
}

TEST(Sinkdump, RunInitialisedAgainWhileOpen) {
  TempDir dir;
  std::string path = dir.file("r");
  Block b = sink(path, "integer");
  b.start(2);
  edge(b, {1});
  // Initialising again closes (and so flushes) the earlier file ...
  expectOk(b.inst().direct(FlagInitializeConditions));
  EXPECT_EQ(b.inst().pwork()[0], nullptr);
  EXPECT_EQ(contents(path), " 1\n");
  // ... and the new run starts it afresh at its first record.
  edge(b, {3});
  expectOk(b.inst().terminate());
  EXPECT_EQ(contents(path), " 3\n");
}

TEST(Sinkdump, ParametersChangedDuringTheRun) {
  TempDir dir;
  std::string path = dir.file("c");
  Block b = sink(path, "float");
  b.start(2);
  edge(b, {1.5});
  b.setParam(1, str("integer"));  // the data type is read at every edge
  edge(b, {2.5});
  b.setParam(2, row({}));
  EXPECT_EQ(b.outputsError({3, 1}), "Dimension for trigger pulse number is incorrect.");
  EXPECT_EQ(b.inst().pwork()[0], nullptr);
  EXPECT_EQ(contents(path), " 1.5\n 2\n");
}

}  // namespace
