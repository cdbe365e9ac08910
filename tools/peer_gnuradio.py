#!/usr/bin/python3
"""GNU Radio's side of the peer benchmark (tools/bench.sh --peer).

   peer_gnuradio.py SAMPLES OUTPUT

Runs the flowgraph of bench/peer*.toml on SAMPLES samples of one float32
stream: seeded uniform noise -> a quantizer (a comparator at 0, giving 0 or
1) -> integrate-and-dump of 10 samples -> a moving sum of the last 4 dumps ->
a file of raw float32 values at OUTPUT. Prints the seconds the flowgraph ran
(its start to its end; building it and importing GNU Radio are left out).
"""
import sys
import time

from gnuradio import analog, blocks, gr


def main():
    samples, output = int(sys.argv[1]), sys.argv[2]
    tb = gr.top_block()
    noise = analog.noise_source_f(analog.GR_UNIFORM, 1.0, 4711)
    head = blocks.head(gr.sizeof_float, samples)
    quantizer = blocks.threshold_ff(0.0, 0.0, 0)
    dump = blocks.integrate_ff(10)
    window = blocks.moving_average_ff(4, 1.0)
    sink = blocks.file_sink(gr.sizeof_float, output, False)
    tb.connect(noise, head, quantizer, dump, window, sink)
    start = time.perf_counter()
    tb.run()
    print(f"{time.perf_counter() - start:.6f}")


if __name__ == "__main__":
    main()
