#include "session/record_pipeline.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <exception>

#include "platform/host.h"
#include "reconstruct/transf.h"

namespace dropix {

namespace {

// Commands are handed over in batches of about this many bytes, at most this many waiting:
// few enough hand-overs to cost nothing, little enough memory, and the writer never far
// behind.
constexpr std::size_t batch_bytes = 256 * 1024;
// Room beyond batch_bytes for the command that crosses it: a pair with two whole objects.
constexpr std::size_t batch_slack = 16 * 1024;
constexpr std::size_t batches_waiting = 3;

// The clock as the session's thread read it for the command.
struct read_clock final : clock_source {
  explicit read_clock(s64 t) : now(t) {}
  s64 clock_seconds() override { return now; }
  s64 now;
};

// Every part of a command starts at a multiple of 8 bytes from the batch's start.
constexpr std::size_t padded(std::size_t n) { return (n + 7) & ~std::size_t{7}; }

// What the writer needs of an object besides its pieces.
struct object_shape {
  f64 y_last;
  f64 y_first;
  s16 pix_min, pix_max, max_wid, line_no;
};

// The fixed part of a pair's command; the pieces of both objects follow it.
struct pair_head {
  record_pipeline::minutes filled;
  s64 now;
  const main_rec* header;
  record_plan plan;
  object_shape a, b;
};

// A flush's command.
struct clock_head {
  record_pipeline::minutes filled;
  s64 now;
};

object_shape shape_of(const drop_rec& d) {
  return {d.y_last, d.y_first, d.pix_min, d.pix_max, d.max_wid, static_cast<s16>(std::clamp<int>(d.line_no, 0, MAXLIN))};
}

drop_rec object_of(const object_shape& s, const piece* pieces) {
  drop_rec d;
  d.y_last = s.y_last;
  d.y_first = s.y_first;
  d.pix_min = s.pix_min;
  d.pix_max = s.pix_max;
  d.max_wid = s.max_wid;
  d.line_no = s.line_no;
  d.pieces = const_cast<piece*>(pieces);  // read only
  return d;
}

// Reads the commands of a batch in order.
struct batch_reader {
  const u8* p;
  const u8* end;
  template <class T>
  T get() {
    T v;
    std::memcpy(&v, p, sizeof v);
    p += padded(sizeof v);
    return v;
  }
  // The pieces where they lie in the batch (its start and every part are 8-byte aligned).
  const piece* pieces(int n) {
    const auto* at = reinterpret_cast<const piece*>(p);
    p += padded(static_cast<std::size_t>(n) * sizeof(piece));
    return at;
  }
};

}  // namespace

record_pipeline::record_pipeline(writer_state& wr, const raw_positions& pos, const corr_tables_rec& corr_tables,
                                 const diagnostics& writer_diag, minutes filled)
    : wr_(wr), pos_(pos), corr_(corr_tables), diag_(writer_diag), own_pos_(pos), synced_(filled) {
  diag_.deferred = nullptr;
  diag_.trace_flag = 0;
  diag_.obj_trace_flag = 0;
  pix_end_.store(wr.pix_end, std::memory_order_relaxed);
  batch_.reserve(batch_bytes + batch_slack);
  const stop_signals_blocked blocked;  // the writer's thread is born with them blocked
  thread_ = std::thread([this] { thread_main(); });
}

record_pipeline::~record_pipeline() { stop(); }

void record_pipeline::batch::reserve(std::size_t n) {
  if (n <= cap) return;
  auto more = std::make_unique_for_overwrite<u8[]>(n);
  if (size > 0) std::memcpy(more.get(), bytes.get(), size);
  bytes = std::move(more);
  cap = n;
}

void record_pipeline::put_bytes(const void* p, std::size_t n) {
  batch_.reserve(batch_.size + n + batch_slack);  // grows for a long message only
  std::memcpy(batch_.bytes.get() + batch_.size, p, n);
  batch_.size += padded(n);
}

// An object's pieces, two at a time: a few dozen bytes, which a call or a string move
// would take longer to start on than to copy.
void record_pipeline::put_pieces(const piece* p, int n) {
  u8* out = batch_.bytes.get() + batch_.size;
  int i = 0;
  for (; i + 1 < n; i += 2) {
    u64 w;
    std::memcpy(&w, p + i, sizeof w);
    std::memcpy(out + 4 * i, &w, sizeof w);
  }
  if (i < n) std::memcpy(out + 4 * i, p + i, sizeof(piece));
  batch_.size += padded(static_cast<std::size_t>(n) * sizeof(piece));
}

template <class T>
void record_pipeline::put(const T& v) {
  static_assert(std::is_trivially_copyable_v<T>);
  static_assert(sizeof(T) <= batch_slack);
  std::memcpy(batch_.bytes.get() + batch_.size, &v, sizeof v);  // within the slack of every batch
  batch_.size += padded(sizeof v);
}

void record_pipeline::put_pending() {
  if (pending_.empty()) return;
  put(kind::text);
  put(static_cast<u64>(pending_.size()));
  put_bytes(pending_.data(), pending_.size());
  pending_.clear();
}

void record_pipeline::begin(kind k) {
  put_pending();
  put(k);
}

void record_pipeline::throw_if_failed() {
  if (failed_.load(std::memory_order_acquire)) throw *failure_;
}

void record_pipeline::submit() {
  std::unique_lock lock(mutex_);
  space_.wait(lock, [&] { return full_.size() < batches_waiting || failed_.load(std::memory_order_relaxed); });
  full_.push_back(std::move(batch_));
  batch_ = {};
  if (!spare_.empty()) {
    batch_ = std::move(spare_.back());
    spare_.pop_back();
  }
  lock.unlock();
  batch_.size = 0;
  batch_.reserve(batch_bytes + batch_slack);
  work_.notify_one();
  throw_if_failed();
}

void record_pipeline::pair(const main_rec& header, const record_plan& plan, s64 now, minutes m,
                           const drop_rec& drop_a, const drop_rec& drop_b) {
  begin(kind::pair);
  // The head is stored field by field where it goes: built aside and copied, its small
  // fields' stores stall the wide loads that copy them, on every pair.
  static_assert(sizeof(pair_head) <= batch_slack && std::is_trivially_copyable_v<pair_head>);
  u8* const at = batch_.bytes.get() + batch_.size;
  const auto store = [at](std::size_t offset, const auto& v) { std::memcpy(at + offset, &v, sizeof v); };
  store(offsetof(pair_head, filled.a), m.a);
  store(offsetof(pair_head, filled.b), m.b);
  store(offsetof(pair_head, now), now);
  store(offsetof(pair_head, header), &header);
  store(offsetof(pair_head, plan.fits), plan.fits);
  store(offsetof(pair_head, plan.bits), plan.bits);
  store(offsetof(pair_head, plan.words), plan.words);
  store(offsetof(pair_head, plan.len), plan.len);
  const auto store_shape = [&](std::size_t offset, const object_shape& s) {
    store(offset + offsetof(object_shape, y_last), s.y_last);
    store(offset + offsetof(object_shape, y_first), s.y_first);
    store(offset + offsetof(object_shape, pix_min), s.pix_min);
    store(offset + offsetof(object_shape, pix_max), s.pix_max);
    store(offset + offsetof(object_shape, max_wid), s.max_wid);
    store(offset + offsetof(object_shape, line_no), s.line_no);
  };
  const object_shape a = shape_of(drop_a);
  const object_shape b = shape_of(drop_b);
  store_shape(offsetof(pair_head, a), a);
  store_shape(offsetof(pair_head, b), b);
  batch_.size += padded(sizeof(pair_head));
  put_pieces(drop_a.pieces, a.line_no);
  put_pieces(drop_b.pieces, b.line_no);
  if (batch_.size >= batch_bytes) submit();
}

void record_pipeline::flush_request(s64 now, minutes m) {
  begin(kind::flush_request);
  put(clock_head{m, now});
  if (batch_.size >= batch_bytes) submit();
}

void record_pipeline::final_flush(s64 now, minutes m) {
  begin(kind::final_flush);
  put(clock_head{m, now});
  submit();
}

void record_pipeline::header(const main_rec& rec) {
  begin(kind::header);
  put(rec);
  if (batch_.size >= batch_bytes) submit();
}

std::optional<run_end> record_pipeline::stop() {
  if (!stopped_) {
    stopped_ = true;
    put_pending();
    {
      std::lock_guard lock(mutex_);
      if (batch_.size > 0) full_.push_back(std::move(batch_));
      batch_ = {};
      closing_ = true;
    }
    work_.notify_one();
    if (thread_.joinable()) thread_.join();
  }
  if (failed_.load(std::memory_order_acquire)) return failure_;
  return std::nullopt;
}

void record_pipeline::thread_main() {
  for (;;) {
    batch taken;
    {
      std::unique_lock lock(mutex_);
      work_.wait(lock, [&] { return !full_.empty() || closing_; });
      if (full_.empty()) return;
      taken = std::move(full_.front());
      full_.pop_front();
    }
    if (!failed_.load(std::memory_order_relaxed)) {
      try {
        run_batch(taken);
      } catch (const run_end& e) {
        failure_ = e;
        failed_.store(true, std::memory_order_release);
      } catch (const std::exception& e) {
        // Out of memory and the like: the writer cannot go on.
        try {
          err_printf(diag_, "DROPIX: %s\n", e.what());
        } catch (...) {
        }
        failure_ = run_end{exit_status::failure, {}};
        failed_.store(true, std::memory_order_release);
      }
    }
    pix_end_.store(wr_.pix_end, std::memory_order_relaxed);
    {
      std::lock_guard lock(mutex_);
      spare_.push_back(std::move(taken));
    }
    space_.notify_one();
  }
}

void record_pipeline::sync_minutes(minutes m) {
  for (int k = synced_.a + 1; k <= m.a; ++k) own_pos_.posa_bf[k] = pos_.posa_bf[k];
  for (int k = synced_.b + 1; k <= m.b; ++k) own_pos_.posb_bf[k] = pos_.posb_bf[k];
  synced_.a = std::max(synced_.a, m.a);
  synced_.b = std::max(synced_.b, m.b);
}

void record_pipeline::run_batch(const batch& commands) {
  batch_reader in{commands.bytes.get(), commands.bytes.get() + commands.size};
  u16 data[max_packed_values];
  u8 head[drop_fmt::head_size];
  while (in.p < in.end) {
    const auto k = in.get<kind>();
    switch (k) {
      case kind::text: {
        const auto n = in.get<u64>();
        if (n > 0) std::fwrite(in.p, 1, n, diag_.err);
        in.p += padded(n);
        break;
      }
      case kind::pair: {
        const auto h = in.get<pair_head>();
        sync_minutes(h.filled);
        read_clock clock(h.now);
        const drop_rec a = object_of(h.a, in.pieces(h.a.line_no));
        const drop_rec b = object_of(h.b, in.pieces(h.b.line_no));
        if (transf_1(*h.header, corr_, &a, &b, h.plan, wr_.oldlen, data, head, diag_) != 0)
          net_wr(wr_, own_pos_, h.header->line_fr, head, data, clock, diag_);
        break;
      }
      case kind::flush_request:
      case kind::final_flush: {
        const auto h = in.get<clock_head>();
        sync_minutes(h.filled);
        read_clock clock(h.now);
        if (k == kind::final_flush)
          dropix::final_flush(wr_, own_pos_, clock, diag_);
        else
          dropix::flush_request(wr_, own_pos_, clock, diag_);
        break;
      }
      case kind::header: {
        auto rec = in.get<main_rec>();
        if (rec.len_prev != wr_.oldlen) {
          // The session's thread foresaw another length: a fault of this program, said
          // where the run's messages go; the header chains to the record really written.
          err_printf(diag_, "writer: main header foreseen after a record of %d bytes, written after one of %d\n",
                     rec.len_prev, wr_.oldlen);
          rec.len_prev = wr_.oldlen;
        }
        append_header(wr_, rec, diag_);
        break;
      }
    }
  }
}

}  // namespace dropix
