// The example models run to completion, and each does what its comment says,
// checked against an independent model of the blocks involved.
#include <math.h>
#include <unistd.h>

#include <algorithm>

#include "run_support.h"

using namespace runtest;

namespace {

class Examples : public RunTest {
 protected:
  // Runs examples/NAME.toml in this test's folder (files it writes land
  // there) and returns its CSV.
  Csv runExample(const std::string& name) {
    char cwd[4096];
    EXPECT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(chdir(dir_.c_str()), 0);
    blocksim::RunOptions options;
    options.pluginDir = KIVREL_PLUGIN_DIR;
    std::ostringstream out, err;
    int status = blocksim::runModel(std::string(KIVREL_EXAMPLES_DIR) + "/" + name + ".toml", options, out, err);
    EXPECT_EQ(chdir(cwd), 0);
    EXPECT_EQ(status, 0) << err.str();
    EXPECT_EQ(err.str(), "");
    return parseCsv(out.str());
  }
};

TEST_F(Examples, OscillatorFollowsTheSine) {
  Csv csv = runExample("oscillator");
  ASSERT_EQ(csv.rows.size(), 201u);
  std::vector<double> phase = csv.column("phase[0]"), s = csv.column("sine[0]"), c = csv.column("cosine[0]"),
                      larger = csv.column("larger[0]");
  for (size_t n = 0; n < csv.rows.size(); ++n) {
    double t = csv.rows[n][0];
    EXPECT_NEAR(s[n], sin(M_PI * t), 1e-9) << t;
    EXPECT_NEAR(c[n], cos(M_PI * t), 1e-9) << t;
    EXPECT_EQ(larger[n], std::max(s[n], c[n])) << t;
    // Folded at each step, so at most one step's increase beyond 2*pi.
    EXPECT_GE(phase[n], 0.0);
    EXPECT_LE(phase[n], 2 * M_PI + M_PI * 0.02 + 1e-12);
  }
}

TEST_F(Examples, QuantizerErrorsMatchAReferenceQuantizer) {
  Csv csv = runExample("quantizer");
  ASSERT_EQ(csv.rows.size(), 1001u);
  const double partition[] = {-0.5, 0, 0.5}, codebook[] = {-0.75, -0.25, 0.25, 0.75};
  for (int k = 0; k < 2; ++k) {
    std::vector<double> in = csv.column(k == 0 ? "sine[0]" : "noise[0]");
    std::vector<double> index = csv.column("quantizer[" + std::to_string(k) + "]");
    std::vector<double> value = csv.column("quantizer[" + std::to_string(k + 2) + "]");
    std::vector<double> mse = csv.column("quantizer[" + std::to_string(k + 4) + "]");
    double sum = 0;
    for (size_t n = 0; n < in.size(); ++n) {
      int j = 0;
      while (j < 3 && in[n] > partition[j]) ++j;
      ASSERT_EQ(index[n], j) << n;
      ASSERT_EQ(value[n], codebook[j]) << n;
      sum += (in[n] - codebook[j]) * (in[n] - codebook[j]);
      ASSERT_NEAR(mse[n], sum / static_cast<double>(n + 1), 1e-12) << n;
    }
    if (k == 1) {
      EXPECT_NEAR(mse.back(), 0.25 / 12, 0.002) << "uniform noise: delta^2/12";
    }
  }
}

TEST_F(Examples, ConvolutionalCodeMatchesAShiftRegister) {
  Csv csv = runExample("convcode");
  ASSERT_EQ(csv.rows.size(), 31u);
  std::vector<double> bits = csv.column("bits[0]"), e0 = csv.column("encoder[0]"), e1 = csv.column("encoder[1]"),
                      symbol = csv.column("symbol[0]");
  int b1 = 0, b2 = 0, ones = 0;
  for (size_t n = 0; n < bits.size(); ++n) {
    int b0 = static_cast<int>(bits[n]);
    ASSERT_TRUE(b0 == 0 || b0 == 1);
    ones += b0;
    EXPECT_EQ(e0[n], b0 ^ b1 ^ b2) << n;
    EXPECT_EQ(e1[n], b0 ^ b2) << n;
    EXPECT_EQ(symbol[n], e0[n] + 2 * e1[n]) << n;
    b2 = b1;
    b1 = b0;
  }
  EXPECT_GT(ones, 5);
  EXPECT_LT(ones, 26);
}

TEST_F(Examples, DescramblerRecoversTheData) {
  Csv csv = runExample("scrambler");
  std::vector<double> data = csv.column("data[0]"), clock = csv.column("clock[0]"),
                      scrambled = csv.column("scrambler[0]"), back = csv.column("descrambler[0]");
  ASSERT_EQ(data.size(), 61u);
  std::vector<int> sent;  // scrambled bits at the clock edges
  size_t differ = 0;
  for (size_t n = 0; n < data.size(); ++n) {
    EXPECT_EQ(back[n], data[n]) << n;
    if (clock[n] == 1.0) {
      int s2 = sent.size() >= 2 ? sent[sent.size() - 2] : 0, s3 = sent.size() >= 3 ? sent[sent.size() - 3] : 0;
      int s = static_cast<int>(data[n]) ^ s2 ^ s3;
      EXPECT_EQ(scrambled[n], s) << n;
      sent.push_back(s);
    }
    if (scrambled[n] != data[n]) ++differ;
  }
  EXPECT_EQ(sent.size(), 31u);
  EXPECT_GT(differ, 5u);
}

TEST_F(Examples, ArrivalsAreCountedAndWritten) {
  Csv csv = runExample("arrivals");
  std::vector<double> count = csv.column("arrivals[0]"), total = csv.column("total[0]"),
                      clock = csv.column("clock[0]");
  ASSERT_EQ(count.size(), 61u);
  std::ifstream in(path("arrivals.txt"));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 31u);
  double x = 0, sum = 0;
  size_t edge = 0;
  for (size_t n = 0; n < count.size(); n += 2) {
    // One draw a second, summed up and dumped every 10 s, shown a step late.
    ASSERT_EQ(clock[n], 1.0);
    EXPECT_EQ(total[n], x) << n;
    x = n % 20 == 0 ? count[n] : x + count[n];
    sum += count[n];
    char want[64];
    snprintf(want, sizeof want, " %d %d", static_cast<int>(count[n]), static_cast<int>(total[n]));
    EXPECT_EQ(lines[edge++], want);
  }
  EXPECT_NEAR(sum / 31, 3.0, 1.0);
}

TEST_F(Examples, FramesComeBackUnchanged) {
  Csv csv = runExample("frames");
  std::vector<double> sent = csv.column("sent[0]"), received = csv.column("received[0]");
  ASSERT_EQ(sent.size(), 21u);
  for (size_t n = 0; n < sent.size(); ++n) {
    EXPECT_EQ(received[n], sent[n]);
    int v = static_cast<int>(sent[n]);
    for (int b = 0; b < 8; ++b) EXPECT_EQ(csv.column("bits[" + std::to_string(b) + "]")[n], (v >> b) & 1);
  }
}

}  // namespace
