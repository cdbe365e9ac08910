// The seeded uniform generator: its published check and agreement with the
// standard library's minimal-standard engine, through the uniform noise
// source with bounds [0, 1] (whose output is then the sample itself), plus
// the generator's treatment of the whole unsigned seed range.
#include <string.h>

#include "randomsource.h"
#include "sourcetest.h"

using namespace harness;
using sourcetest::ReferenceUniform;

namespace {

// A flatnoise block whose output is the uniform sample of each element.
Block unitNoise(axArray* seeds) { return Block("flatnoise", {seeds, num(1), num(0), num(1)}); }

TEST(NextUniform, ScaleIsTheNearestDoubleToOneOverTheModulus) {
  uint64_t bits;
  memcpy(&bits, &kUniformScale, sizeof bits);
  EXPECT_EQ(bits, 0x3E00000000200000u);
  EXPECT_EQ(kUniformScale, 1.0 / 2147483647.0);
}

TEST(NextUniform, PublishedCheckAndStandardEngineAgree) {
  Block b = unitNoise(num(1));
  b.start();
  ReferenceUniform ref(1);
  // Initialisation drew the first number; every draw outputs the number
  // drawn ahead and draws the next one.
  double ahead = ref.next();
  EXPECT_EQ(b.iwork()[0], 16807);
  for (int call = 2; call <= 10000; ++call) {
    const double y = b.outputs()[0];
    ASSERT_EQ(y, ahead) << "call " << call;
    ahead = ref.next();
    ASSERT_EQ(b.iwork()[0], ref.state()) << "call " << call;
    ASSERT_GT(y, 0.0);
    ASSERT_LT(y, 1.0);
  }
  EXPECT_EQ(b.iwork()[0], 1043618065);
}

TEST(NextUniform, ListedSamples) {
  // Seed 0 is invalid: element 0 takes the fallback seed 1144108930.
  Block b = unitNoise(row({0, 1, 2147483646}));
  b.start();
  EXPECT_EQ(b.iwork(), (std::vector<int32_t>{470211272, 16807, 2147466840}));
  EXPECT_EQ(b.outputs(), (std::vector<double>{0.21895918632809036, 7.826369259425611e-06, 0.9999921736307406}));
  EXPECT_EQ(b.iwork()[1], 282475249);
  EXPECT_EQ(b.outputs()[1], 0.13153778814316625);
  EXPECT_EQ(b.iwork()[1], 1622650073);
  EXPECT_EQ(b.outputs()[1], 0.7556053221950332);
}

// Any 32-bit slot value, read as unsigned, steps to 16807·s mod (2^31 − 1).
TEST(NextUniform, WholeUnsignedSeedRange) {
  int32_t zero = 0;
  EXPECT_EQ(nextUniform(&zero), 0.0);
  EXPECT_EQ(zero, 0);
  const uint32_t seeds[] = {1u, 127772u, 127773u, 2147483646u, 2147483647u, 2147483648u,
                            3000000000u, 4294967294u, 4294967295u};
  for (uint32_t s : seeds) {
    int32_t slot;
    memcpy(&slot, &s, sizeof slot);
    const uint64_t want = (16807ull * s) % 2147483647ull;
    const double u = nextUniform(&slot);
    EXPECT_EQ(static_cast<uint32_t>(slot), want) << s;
    EXPECT_EQ(u, static_cast<double>(want) * (1.0 / 2147483647.0)) << s;
  }
}

}  // namespace
