// Counting of heap allocations in a window of the benchmark program.
#ifndef KIVREL_BENCH_ALLOC_COUNT_H
#define KIVREL_BENCH_ALLOC_COUNT_H

namespace allocCount {
void start();               // zero the count and start counting
unsigned long long stop();  // stop counting; the allocations since start()
}  // namespace allocCount

#endif
