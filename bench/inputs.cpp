#include "bench/inputs.h"

#include <algorithm>
#include <map>
#include <stdexcept>
#include <unistd.h>

#include "control/tables.h"
#include "input/decmpr.h"
#include "input/main_hr.h"
#include "kit/config.h"
#include "reconstruct/assign.h"
#include "reconstruct/match.h"
#include "reconstruct/transf.h"
#include "tools/sim/simulate.h"

namespace dropix::bench {

namespace {

object_copy copy_of(const drop_rec& r) {
  object_copy c;
  c.pix_min = r.pix_min;
  c.pix_max = r.pix_max;
  c.max_wid = r.max_wid;
  c.line_no = r.line_no;
  c.overflow = r.overflow;
  c.y_first = r.y_first;
  c.y_last = r.y_last;
  c.pieces.assign(&r.pieces[0], &r.pieces[0] + r.line_no);
  return c;
}

// Every object of the pair's Wait-queue, oldest first, out of the store.
void take_wait_queue(store_state& store, queue_pair& qp, std::vector<object_copy>& out, diagnostics& d) {
  while (drop_rec* p = qp.wait_last) {
    out.push_back(copy_of(*p));
    unlink_wait(store, p, qp, d);
  }
}

struct capture final : pair_sink {
  std::vector<std::pair<held_object, held_object>>* pairs = nullptr;
  void pair(const drop_rec* a, const drop_rec* b) override {
    pairs->emplace_back(held_object(copy_of(*a)), held_object(copy_of(*b)));
  }
};

void build(recording& rec, double minutes, std::size_t max_decoded) {
  sim::sim_options o;
  o.event.rain = rec.rain;
  o.event.minutes = minutes;
  o.seed = 1;
  const sim::sim_output sim = sim::simulate(o);
  rec.raw = sim.raw;

  for (std::size_t at = 0; at + block_fmt::size <= rec.raw.size();) {
    const s16 ident = get_s16(&rec.raw[at + block_fmt::ident]);
    const s16 len = get_s16(&rec.raw[at + block_fmt::cmpr_n]);
    if (len < 0) throw std::runtime_error("negative block length in a simulated recording");
    if (ident == ident_camera_a || ident == ident_camera_b) {
      rec.bodies.push_back({at + block_fmt::size, static_cast<std::size_t>(len), ident});
      rec.body_bytes += static_cast<std::size_t>(len);
    }
    at += block_fmt::size + static_cast<std::size_t>(len);
  }

  diagnostics d = quiet_diagnostics();
  raw_window win;
  raw_window_over(win, rec.raw.data(), rec.raw.size());
  auto dec = std::make_unique<decode_state>();
  auto store = std::make_unique<store_state>();
  init_queues(store->qa, store->qb);
  for (const body_ref& b : rec.bodies) {
    raw_cursor cur{&win, static_cast<s64>(b.at), static_cast<s64>(b.at + b.len)};
    s16 n = 0;
    if (decmpr(*dec, cur, &n, d) == 0 || n <= 0) continue;
    queue_pair& qp = b.ident == ident_camera_a ? store->qa : store->qb;
    if (b.ident == ident_camera_a && rec.decoded_a.size() < max_decoded) {
      rec.decoded_a.push_back(std::make_unique<line_blk_rec>(dec->line_blk));
      rec.lines_a += static_cast<std::size_t>(n);
    }
    assign_pieces(*store, dec->line_blk, qp, d);
    chain_queues(*store, qp, d);
    take_wait_queue(*store, qp, b.ident == ident_camera_a ? rec.objects_a : rec.objects_b, d);
  }

  main_tim(rec.headers, make_main_rec(sim.header, 0, "V26342_1.hyd"), d);
  char path[] = "/tmp/dropix-bench-corrXXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) throw std::runtime_error("no temporary file for the correction factors");
  close(fd);
  rawkit::write_text(path, rawkit::corrfact_text(1.5));
  tables(rec.corr, false, path, d);
  std::remove(path);

  // Pairs: matching over slices of the objects, as many as the store holds at a time.
  capture sink;
  sink.pairs = &rec.pairs;
  constexpr std::size_t slice = 300;
  std::size_t b_from = 0;
  for (std::size_t a_from = 0; a_from < rec.objects_a.size(); a_from += slice) {
    const std::size_t a_to = std::min(rec.objects_a.size(), a_from + slice);
    const f64 y_end = rec.objects_a[a_to - 1].y_first + 1200.0;
    while (b_from < rec.objects_b.size() && rec.objects_b[b_from].y_first < rec.objects_a[a_from].y_first) ++b_from;
    std::size_t b_to = b_from;
    while (b_to < rec.objects_b.size() && b_to - b_from < 2 * slice && rec.objects_b[b_to].y_first <= y_end) ++b_to;
    load_wait_queue(*store, store->qa, rec.objects_a, a_from, a_to, d);
    load_wait_queue(*store, store->qb, rec.objects_b, b_from, b_to, d);
    s32 total = 0;
    find_m(*store, ~u64{0}, &total, sink, d);
    clear_store(*store, d);
  }

  u8 head[drop_fmt::head_size];
  std::vector<u16> data(max_packed_values);
  for (const auto& [a, b] : rec.pairs)
    if (transf_1(rec.headers, rec.corr, a.get(), b.get(), 0, data.data(), head, d))
      rec.record_bytes += drop_fmt::length_of(get_u16(head + drop_fmt::len_bits));
}

}  // namespace

held_object::held_object(const object_copy& c) : pieces_(c.pieces) {
  rec_.pix_min = c.pix_min;
  rec_.pix_max = c.pix_max;
  rec_.max_wid = c.max_wid;
  rec_.line_no = c.line_no;
  rec_.overflow = c.overflow;
  rec_.y_first = c.y_first;
  rec_.y_last = c.y_last;
  rec_.status = 1;
  rec_.pieces = pieces_.data();
}

diagnostics quiet_diagnostics() {
  static std::FILE* nowhere = std::fopen("/dev/null", "w");
  diagnostics d;
  d.err = nowhere ? nowhere : stderr;
  d.trace_flag = 0;
  d.obj_trace_flag = 0;
  return d;
}

void load_wait_queue(store_state& store, queue_pair& qp, const std::vector<object_copy>& objects,
                     std::size_t from, std::size_t to, diagnostics& d) {
  for (std::size_t i = from; i < to; ++i) {
    const object_copy& c = objects[i];
    new_obj(store, c.pieces[0].first, c.pieces[0].last, c.y_first, qp, d);
    drop_rec& p = *qp.assign_first;
    p.pix_min = c.pix_min;
    p.pix_max = c.pix_max;
    p.max_wid = c.max_wid;
    p.line_no = c.line_no;
    p.overflow = c.overflow;
    p.y_last = c.y_last;
    std::copy(c.pieces.begin(), c.pieces.end(), &p.pieces[0]);
  }
  chain_queues(store, qp, d);
}

void clear_store(store_state& store, diagnostics& d) {
  for (queue_pair* qp : {&store.qa, &store.qb}) {
    while (drop_rec* p = qp->wait_last) unlink_wait(store, p, *qp, d);
    while (drop_rec* p = qp->assign_last) unlink_assign(store, p, *qp, d);
  }
  store.slot_cursor = 0;
  store.last_match_y = 0;
}

const recording& recording_at(double rain, double minutes, std::size_t max_decoded) {
  static std::map<std::pair<double, double>, std::unique_ptr<recording>> made;
  auto& slot = made[{rain, minutes}];
  if (!slot) {
    slot = std::make_unique<recording>();
    slot->rain = rain;
    build(*slot, minutes, max_decoded);
  }
  return *slot;
}

}  // namespace dropix::bench
