// Micro benchmarks of the decoder's stages on simulated rain (bench/inputs.h):
//   decmpr         line-block bodies of both cameras, bytes/s of body
//   assign_pieces  camera A's decoded blocks into objects, chained to the Wait-queue and
//                  released as matching would release them; items/s are scan lines
//   find_m         a slice of both cameras' waiting objects paired; items/s are objects
//   eval_dr        matched pairs evaluated; items/s are pairs
//   transf_1       matched pairs packed into records (eval_dr included); bytes/s of record
// Each takes the rain rate in mm/h as its argument.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>

#include "bench/inputs.h"
#include "input/decmpr.h"
#include "reconstruct/assign.h"
#include "reconstruct/eval_dr.h"
#include "reconstruct/match.h"
#include "reconstruct/transf.h"

namespace dropix::bench {
namespace {

const recording& input(const benchmark::State& state) { return recording_at(static_cast<double>(state.range(0))); }

void BM_decmpr(benchmark::State& state) {
  const recording& rec = input(state);
  diagnostics d = quiet_diagnostics();
  raw_window win;
  raw_window_over(win, rec.raw.data(), rec.raw.size());
  auto dec = std::make_unique<decode_state>();
  std::size_t lines = 0;
  for (auto _ : state) {
    for (const body_ref& b : rec.bodies) {
      raw_cursor cur{&win, static_cast<s64>(b.at), static_cast<s64>(b.at + b.len)};
      s16 n = 0;
      decmpr(*dec, cur, &n, d);
      lines += static_cast<std::size_t>(std::max<s16>(n, 0));
    }
    benchmark::DoNotOptimize(dec->line_blk);
  }
  state.SetBytesProcessed(static_cast<s64>(state.iterations() * rec.body_bytes));
  state.SetItemsProcessed(static_cast<s64>(lines));
}

void BM_assign_pieces(benchmark::State& state) {
  const recording& rec = input(state);
  diagnostics d = quiet_diagnostics();
  auto store = std::make_unique<store_state>();
  init_queues(store->qa, store->qb);
  for (auto _ : state) {
    for (const auto& blk : rec.decoded_a) {
      assign_pieces(*store, *blk, store->qa, d);
      chain_queues(*store, store->qa, d);
      while (drop_rec* p = store->qa.wait_last) unlink_wait(*store, p, store->qa, d);
    }
  }
  state.SetItemsProcessed(static_cast<s64>(state.iterations() * rec.lines_a));
}

// Slices of both cameras' objects as the Wait-queues hold them when matching runs.
struct slice {
  std::size_t a_from, a_to, b_from, b_to;
};

std::vector<slice> slices_of(const recording& rec, std::size_t per_slice) {
  std::vector<slice> out;
  std::size_t b_from = 0;
  for (std::size_t a_from = 0; a_from + per_slice <= rec.objects_a.size(); a_from += per_slice) {
    const std::size_t a_to = a_from + per_slice;
    while (b_from < rec.objects_b.size() && rec.objects_b[b_from].y_first < rec.objects_a[a_from].y_first) ++b_from;
    std::size_t b_to = b_from;
    const f64 y_end = rec.objects_a[a_to - 1].y_first + 1200.0;
    while (b_to < rec.objects_b.size() && b_to - b_from < per_slice + per_slice / 2 &&
           rec.objects_b[b_to].y_first <= y_end)
      ++b_to;
    out.push_back({a_from, a_to, b_from, b_to});
  }
  return out;
}

struct null_sink final : pair_sink {
  long pairs = 0;
  void pair(const drop_rec*, const drop_rec*) override { ++pairs; }
};

void BM_find_m(benchmark::State& state) {
  const recording& rec = input(state);
  diagnostics d = quiet_diagnostics();
  auto store = std::make_unique<store_state>();
  init_queues(store->qa, store->qb);
  const std::vector<slice> slices = slices_of(rec, 250);
  if (slices.empty()) {
    state.SkipWithError("too few objects");
    return;
  }
  null_sink sink;
  std::size_t k = 0, objects = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const slice& s = slices[k++ % slices.size()];
    clear_store(*store, d);
    load_wait_queue(*store, store->qa, rec.objects_a, s.a_from, s.a_to, d);
    load_wait_queue(*store, store->qb, rec.objects_b, s.b_from, s.b_to, d);
    objects += (s.a_to - s.a_from) + (s.b_to - s.b_from);
    state.ResumeTiming();
    s32 total = 0;
    find_m(*store, ~u64{0}, &total, sink, d);
    benchmark::DoNotOptimize(total);
  }
  state.SetItemsProcessed(static_cast<s64>(objects));
  state.counters["pairs"] = benchmark::Counter(static_cast<double>(sink.pairs), benchmark::Counter::kIsRate);
}

void BM_eval_dr(benchmark::State& state) {
  const recording& rec = input(state);
  diagnostics d = quiet_diagnostics();
  for (auto _ : state) {
    for (const auto& [a, b] : rec.pairs) {
      f32 eq = 0, xa = 0, xb = 0, ys = 0;
      eval_dr(rec.headers, rec.corr, a.get(), b.get(), &eq, &xa, &xb, &ys, d);
      benchmark::DoNotOptimize(eq);
      benchmark::DoNotOptimize(xa);
      benchmark::DoNotOptimize(xb);
      benchmark::DoNotOptimize(ys);
    }
  }
  state.SetItemsProcessed(static_cast<s64>(state.iterations() * rec.pairs.size()));
}

void BM_transf_1(benchmark::State& state) {
  const recording& rec = input(state);
  diagnostics d = quiet_diagnostics();
  std::vector<u16> data(max_packed_values);
  u8 head[drop_fmt::head_size];
  s16 len_prev = 0;
  for (auto _ : state) {
    for (const auto& [a, b] : rec.pairs) {
      transf_1(rec.headers, rec.corr, a.get(), b.get(), len_prev, data.data(), head, d);
      len_prev = static_cast<s16>(drop_fmt::length_of(get_u16(head)));
      benchmark::DoNotOptimize(data.data());
      benchmark::DoNotOptimize(head);
    }
  }
  state.SetItemsProcessed(static_cast<s64>(state.iterations() * rec.pairs.size()));
  state.SetBytesProcessed(static_cast<s64>(state.iterations() * rec.record_bytes));
}

BENCHMARK(BM_decmpr)->Arg(50)->Arg(200)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_assign_pieces)->Arg(50)->Arg(200)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_find_m)->Arg(50)->Arg(200)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_eval_dr)->Arg(50)->Arg(200)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_transf_1)->Arg(50)->Arg(200)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace dropix::bench

BENCHMARK_MAIN();
