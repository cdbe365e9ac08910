// arrivalgen: the listed sequences, agreement with an independent model of
// the counting draw (the standard engine, ln and an extended-precision
// comparison), the moments of the counts, the parameter messages in order,
// ResetRequest at every call, and draws that end for every mean: NaN, +∞ and
// means far beyond counting.
#include <float.h>
#include <math.h>

#include "sourcetest.h"

using namespace harness;
using sourcetest::ReferenceUniform;

namespace {

typedef std::vector<double> Vec;

Block arrivalgen(axArray* seeds, axArray* lambda, axArray* ts = num(1)) {
  return Block("arrivalgen", {seeds, lambda, ts});
}

// Counts the exponential inter-arrival times whose partial sums stay at or
// below lambda; the partial sum is compared before it is stored as a double.
double referenceCount(ReferenceUniform& ref, double lambda) {
  double arrivals = 0.0;
  double stored = 0.0;
  while (true) {
    const long double sum = stored + -static_cast<long double>(log(ref.next()));
    stored = static_cast<double>(sum);
    if (sum > lambda) return arrivals;
    arrivals += 1.0;
  }
}

TEST(Arrivalgen, ListedSequences) {
  Block one = arrivalgen(num(1), num(1));
  one.start();
  std::vector<Vec> want = {{0}, {0}, {1}, {1}, {0}, {3}, {2}, {0}};
  EXPECT_EQ(sourcetest::draws(one, 8), want);

  Block two = arrivalgen(row({1, 2}), row({0.5, 3}));
  two.start();
  want = {{0, 0}, {0, 3}, {1, 1}, {0, 4}, {0, 1}};
  EXPECT_EQ(sourcetest::draws(two, 5), want);
}

TEST(Arrivalgen, AgreesWithIndependentModel) {
  const std::vector<double> seeds = {5, 0, 2147483646, 424242};
  const std::vector<double> lambda = {0.5, 4, 30, 1000};
  Block b = arrivalgen(row(seeds), row(lambda));
  b.start();
  std::vector<ReferenceUniform> refs;
  std::vector<double> ahead;
  for (size_t i = 0; i < seeds.size(); ++i) {
    refs.emplace_back(seeds[i] != 0 ? static_cast<uint32_t>(seeds[i]) : sourcetest::kFallbackSeed + 1);
    ahead.push_back(referenceCount(refs[i], lambda[i]));
  }
  for (int k = 0; k < 300; ++k) {
    Vec y = b.outputs();
    for (size_t i = 0; i < seeds.size(); ++i) {
      ASSERT_EQ(y[i], ahead[i]) << "draw " << k << " element " << i;
      ahead[i] = referenceCount(refs[i], lambda[i]);
      ASSERT_EQ(b.iwork()[i], refs[i].state());
    }
  }
}

// A large mean is still counted exactly.
TEST(Arrivalgen, LargeMeanStillCounted) {
  // 1e6 is the largest mean still counted one arrival at a time.
  for (double lambda : {3e5, 1e6}) {
    Block b = arrivalgen(num(31), num(lambda));
    b.start();
    ReferenceUniform ref(31);
    for (int k = 0; k < 2; ++k) {
      const double ahead = referenceCount(ref, lambda);
      EXPECT_EQ(b.outputs()[0], ahead) << lambda;
    }
    referenceCount(ref, lambda);
    EXPECT_EQ(b.iwork()[0], ref.state()) << lambda;
  }
  // Just above it a draw takes two generator numbers, whatever it gives.
  Block big = arrivalgen(num(31), num(1.5e6));
  big.start();
  ReferenceUniform ref(31);
  for (int k = 0; k < 4; ++k) ref.next();  // the draw ahead at start and one at outputs
  big.outputs();
  EXPECT_EQ(big.iwork()[0], ref.state());
}

// 20000 draws with λ = 4 from seed 1: mean and variance within 0.05 of 4.
TEST(Arrivalgen, MeanAndVariance) {
  Block b = arrivalgen(num(1), num(4));
  b.start();
  sourcetest::Moments mo = sourcetest::momentsOf(b, 20000);
  EXPECT_NEAR(mo.mean, 4.0, 0.05);
  EXPECT_NEAR(mo.variance, 4.0, 0.05);
}

// A mean of 0 or below gives 0 and uses one number per draw.
TEST(Arrivalgen, NonPositiveMeanGivesZero) {
  Block b = arrivalgen(row({1, 1, 1}), row({0, -2, -INFINITY}));
  b.start();
  ReferenceUniform ref(1);
  ref.next();
  for (int k = 0; k < 20; ++k) {
    EXPECT_EQ(b.outputs(), (Vec{0, 0, 0}));
    ref.next();
    EXPECT_EQ(b.iwork(), (std::vector<int32_t>{ref.state(), ref.state(), ref.state()}));
  }
}

// Counting would never end for NaN or +∞ and would take unbounded time for a
// huge mean: NaN gives NaN and +∞ gives +∞ (one number each); a mean beyond
// 1e6 is drawn from the normal approximation, whose counts are whole, not
// negative, and have the mean and spread of the Poisson count.
TEST(Arrivalgen, EveryMeanEnds) {
  Block b = arrivalgen(row({1, 2, 3, 4}), row({NAN, INFINITY, DBL_MAX, 1e300}));
  b.start();
  for (const Vec& y : sourcetest::draws(b, 5)) {
    EXPECT_TRUE(isnan(y[0]));
    EXPECT_EQ(y[1], INFINITY);
    EXPECT_EQ(y[2], DBL_MAX);
    EXPECT_EQ(y[3], 1e300);
  }
  ReferenceUniform ref(2);
  for (int k = 0; k < 6; ++k) ref.next();
  EXPECT_EQ(b.iwork()[1], ref.state());

  const double lambda = 4e8;
  Block big = arrivalgen(num(7), num(lambda));
  big.start();
  const int N = 4000;
  double sum = 0.0, squares = 0.0;
  for (int k = 0; k < N; ++k) {
    const double v = big.outputs()[0];
    ASSERT_EQ(v, floor(v));
    sum += v - lambda;
    squares += (v - lambda) * (v - lambda);
  }
  // The standard deviation is 2e4; the mean's standard error about 316.
  EXPECT_NEAR(sum / N, 0.0, 1300.0);
  EXPECT_NEAR(sqrt(squares / N), 2e4, 1000.0);
}

TEST(Arrivalgen, ParameterMessagesInOrder) {
  EXPECT_EQ(Block("arrivalgen", {num(1), num(1)}).sizesError(), wrongCount(2, 3));
  EXPECT_EQ(arrivalgen(empty(1, 0), row({1, 2}), row({1, 1})).sizesError(), "Input variable is empty.");
  EXPECT_EQ(arrivalgen(row({1, 2, 3}), row({1, 2}), row({1, 1})).sizesError(),
            "Dimension for LAMBDA must match the dimension for seeds.");
  EXPECT_EQ(arrivalgen(row({1, 2, 3}), row({1, 2, 3}), row({1, 1})).sizesError(),
            "The sample time must be a scalar value.");
  // LAMBDA is not validated.
  arrivalgen(row({1, 2}), row({-1, NAN})).start();
}

// ResetRequest is raised at every call; without a draw y, the seeds and the
// counts drawn ahead stay.
TEST(Arrivalgen, ResetRequestAtEveryCall) {
  Block b = arrivalgen(num(1), num(1));
  b.start();
  EXPECT_EQ(b.resetRequest(), 0);
  b.outputs();
  b.outputs();
  sourcetest::expectNoDraw(b, 1);
  EXPECT_EQ(b.outputs(), (Vec{1}));
}

// LAMBDA is read at every draw; the count drawn ahead keeps the old mean.
TEST(Arrivalgen, MeanEditedDuringRun) {
  Block b = arrivalgen(num(1), num(1));
  b.start();
  b.setParam(1, num(0));
  EXPECT_EQ(b.outputs(), (Vec{0}));
  EXPECT_EQ(b.outputs(), (Vec{0}));
  b.setParam(1, row({1, 2}));  // element 0 of a per-element vector
  b.outputs();
  b.setParam(1, empty());  // a missing mean acts as NaN
  b.outputs();
  EXPECT_TRUE(isnan(b.outputs()[0]));
}

}  // namespace
