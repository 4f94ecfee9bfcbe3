#include "session/record_pipeline.h"

#include <algorithm>
#include <cstring>
#include <exception>

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

// Reads the commands of a batch in order.
struct batch_reader {
  const u8* p;
  const u8* end;
  template <class T>
  T get() {
    T v;
    std::memcpy(&v, p, sizeof v);
    p += sizeof v;
    return v;
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
  batch_.size += n;
}

template <class T>
void record_pipeline::put(const T& v) {
  static_assert(std::is_trivially_copyable_v<T>);
  static_assert(sizeof(T) <= batch_slack);
  std::memcpy(batch_.bytes.get() + batch_.size, &v, sizeof v);  // within the slack of every batch
  batch_.size += sizeof v;
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

void record_pipeline::pair(const main_rec& header, f64 line_fr, s64 now, minutes m, const drop_rec& drop_a,
                           const drop_rec& drop_b) {
  begin(kind::pair);
  put(m);
  put(now);
  put(&header);
  put(line_fr);
  for (const drop_rec* d : {&drop_a, &drop_b}) {
    put(*d);
    const int n = std::clamp<int>(d->line_no, 0, MAXLIN);
    put_bytes(d->pieces, static_cast<std::size_t>(n) * sizeof(piece));
  }
  if (batch_.size >= batch_bytes) submit();
}

void record_pipeline::flush_request(s64 now, minutes m) {
  begin(kind::flush_request);
  put(m);
  put(now);
  if (batch_.size >= batch_bytes) submit();
}

void record_pipeline::final_flush(s64 now, minutes m) {
  begin(kind::final_flush);
  put(m);
  put(now);
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

void record_pipeline::run_batch(const batch& b) {
  batch_reader in{b.bytes.get(), b.bytes.get() + b.size};
  piece pieces_a[MAXLIN], pieces_b[MAXLIN];
  u16 data[max_packed_values];
  u8 head[drop_fmt::head_size];
  while (in.p < in.end) {
    switch (in.get<kind>()) {
      case kind::text: {
        const auto n = in.get<u64>();
        if (n > 0) std::fwrite(in.p, 1, n, diag_.err);
        in.p += n;
        break;
      }
      case kind::pair: {
        sync_minutes(in.get<minutes>());
        read_clock clock(in.get<s64>());
        const auto* header = in.get<const main_rec*>();
        const auto line_fr = in.get<f64>();
        drop_rec drops[2];
        piece* rooms[2] = {pieces_a, pieces_b};
        for (int i = 0; i < 2; ++i) {
          drops[i] = in.get<drop_rec>();
          const int n = std::clamp<int>(drops[i].line_no, 0, MAXLIN);
          std::memcpy(rooms[i], in.p, static_cast<std::size_t>(n) * sizeof(piece));
          in.p += static_cast<std::size_t>(n) * sizeof(piece);
          drops[i].pieces = rooms[i];
          drops[i].next = drops[i].prev = nullptr;
        }
        if (transf_1(*header, corr_, &drops[0], &drops[1], wr_.oldlen, data, head, diag_) != 0)
          net_wr(wr_, own_pos_, line_fr, head, data, clock, diag_);
        break;
      }
      case kind::flush_request: {
        sync_minutes(in.get<minutes>());
        read_clock clock(in.get<s64>());
        dropix::flush_request(wr_, own_pos_, clock, diag_);
        break;
      }
      case kind::final_flush: {
        sync_minutes(in.get<minutes>());
        read_clock clock(in.get<s64>());
        dropix::final_flush(wr_, own_pos_, clock, diag_);
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
