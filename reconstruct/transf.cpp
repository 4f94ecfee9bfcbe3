#include "reconstruct/transf.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "common/numeric.h"
#include "reconstruct/eval_dr.h"

namespace dropix {

namespace {

// 1009 data words make a record of 30 + 2018 = 2048 bytes, one byte more than len_bits holds.
constexpr int too_long_words = static_cast<int>(drop_fmt::max_len + 1 - drop_fmt::head_size) / 2;
static_assert(too_long_words <= max_packed_values);

// A value as the record stores it: truncated to a 32-bit integer, low 16 bits kept.
s16 low16(f64 v) { return static_cast<s16>(static_cast<u16>(trunc_s32(v))); }

// Bits per value: enough for the wider object's width, looking at bits 0-9 only (widths up
// to 1023). A width with none of these bits set is packed with one bit.
int bits_per_value(int w_a, int w_b) {
  const unsigned low = static_cast<unsigned>(w_a | w_b) & 0x3FFu;
  return low ? std::bit_width(low) : 1;
}

// The record's data words: the silhouettes as values relative to each object's left edge
// (camera A's first pixels, camera A's last pixels, then the same for camera B, line by
// line), b bits each, least significant bit first, in 16-bit words.
//
// The record format fills the words in rounds: each round puts as many whole values as fit
// (p of them, zeros once the values run out) into a 32-bit accumulator above the s bits
// carried from the round before, emits its low 16 bits and carries its high 16; after the
// last round the carry is always written as one more word. Each round continues where the
// one before ended, so the words are those of the plain bit stream with zeros after the
// last value; the rounds only fix their number. After r rounds floor((16 r + 16) / b)
// values are placed, so the rounds end at the first r >= 1 with 16 r + 16 >= count * b, and
// the words number max(2, ceil(count * b / 16)) (one word for no values at all).
//
// Writes at most too_long_words words, the first count that no record can hold, and
// returns the word count, or too_long_words when there would be that many or more.
class word_packer {
 public:
  word_packer(int b, u16* data, int limit) : b_(b), mask_((1u << b) - 1), data_(data), limit_(limit) {}

  void put(u32 v) {
    acc_ |= static_cast<u64>(v & mask_) << bits_;
    bits_ += b_;
    if (bits_ >= 16) {
      if (k_ < limit_) data_[k_] = static_cast<u16>(acc_);
      ++k_;
      acc_ >>= 16;
      bits_ -= 16;
    }
  }

  // Pads the stream with zeros to `words` words (at most the limit) and returns the count.
  int finish(int words) {
    const int n = std::min(words, limit_);
    for (; k_ < n; ++k_) {
      data_[k_] = static_cast<u16>(acc_);
      acc_ >>= 16;
    }
    return n;
  }

 private:
  int b_;
  u32 mask_;
  u16* data_;
  int limit_;
  u64 acc_ = 0;  // bits not yet written, the oldest lowest
  int bits_ = 0;
  int k_ = 0;    // words emitted (past the limit too)
};

// Packs the silhouettes into `words` words (the plan's count).
void pack_silhouettes(const drop_rec* drop_a, const drop_rec* drop_b, int b, int words, u16* data) {
  word_packer w(b, data, too_long_words);
  for (const drop_rec* d : {drop_a, drop_b}) {
    const piece* p = d->pieces;
    const int n = d->line_no;
    const s16 left = d->pix_min;
    for (int i = 0; i < n; ++i) w.put(static_cast<u32>(p[i].first - left));
    for (int i = 0; i < n; ++i) w.put(static_cast<u32>(p[i].last - left));
  }
  w.finish(words);
}

}  // namespace

bool eq_diam_too_small(f32 eq_diam) { return std::signbit(eq_diam) || eq_diam < 0.01f; }

record_plan plan_record(const drop_rec* drop_a, const drop_rec* drop_b) {
  record_plan p;
  // Objects never hold more than MAXLIN pieces; anything else cannot be a record.
  if (drop_a->line_no > MAXLIN || drop_b->line_no > MAXLIN) return p;
  p.bits = bits_per_value(drop_a->pix_max - drop_a->pix_min, drop_b->pix_max - drop_b->pix_min);
  const std::size_t count =
      2 * (static_cast<std::size_t>(std::max<int>(drop_a->line_no, 0)) + std::max<int>(drop_b->line_no, 0));
  const std::size_t bits = count * static_cast<std::size_t>(p.bits);
  const std::size_t words = count == 0 ? 1 : std::max<std::size_t>(2, (bits + 15) / 16);
  p.words = static_cast<int>(std::min<std::size_t>(words, too_long_words));
  p.len = static_cast<u32>(drop_fmt::head_size + 2 * p.words);
  p.fits = p.len <= drop_fmt::max_len;
  return p;
}

s16 transf_1(const header_list& headers, const corr_tables_rec& corr_tables, const drop_rec* drop_a,
             const drop_rec* drop_b, s16 len_prev, u16* data, u8* head, diagnostics& d) {
  const main_rec& header = header_at(headers, drop_a->y_first, d);
  return transf_1(header, corr_tables, drop_a, drop_b, plan_record(drop_a, drop_b), len_prev, data, head, d);
}

s16 transf_1(const main_rec& header, const corr_tables_rec& corr_tables, const drop_rec* drop_a,
             const drop_rec* drop_b, const record_plan& plan, s16 len_prev, u16* data, u8* head, diagnostics& d) {
  f32 eq_diam = 0, xscale_a = 0, xscale_b = 0, yscale = 0;
  eval_dr(header, corr_tables, drop_a, drop_b, &eq_diam, &xscale_a, &xscale_b, &yscale);

  if (!plan.fits) {
    err_printf(d, "transf_1: max. len exceeded !!! \n");
    return 0;
  }
  const int b = plan.bits;
  pack_silhouettes(drop_a, drop_b, b, plan.words, data);
  const u32 len = plan.len;

  // Delays of the first and of the last line between the cameras, each in whole lines.
  const u32 delay_first = static_cast<u32>(trunc_s32(drop_b->y_first - drop_a->y_first));
  const u32 delay_last = static_cast<u32>(trunc_s32(drop_b->y_last - drop_a->y_last));
  const s16 diff_lins = static_cast<s16>(static_cast<u16>(delay_first + delay_last));

  if (eq_diam_too_small(eq_diam)) {
    err_printf(d, "\neq_diam problem:\n");
    err_printf(d, "eq_diam= %f  ", eq_diam);
    err_printf(d, "line_no_A= %d  ", drop_a->line_no);
    err_printf(d, "line_no_B= %d\n", drop_b->line_no);
    err_printf(d, "diff_lins= %d\n", diff_lins);
  }

  drop_head h;
  h.len_bits = static_cast<u16>(static_cast<u32>(b) * 2048u + len);
  h.len_prev = len_prev;
  h.y_first = drop_a->y_first;
  h.diam_100 = low16(eq_diam * 100.0);
  h.lines_a = drop_a->line_no;
  h.lines_diff = static_cast<s16>(drop_b->line_no - drop_a->line_no);
  h.diff_lins = diff_lins;
  h.pix_min_a = drop_a->pix_min;
  h.pix_min_b = drop_b->pix_min;
  h.yscale_10k = low16(yscale * 10000.0);
  h.xscale_a_10k = low16(xscale_a * 10000.0);
  h.xscale_b_10k = low16(xscale_b * 10000.0);
  encode_drop_head(h, head);
  return 1;
}

}  // namespace dropix
