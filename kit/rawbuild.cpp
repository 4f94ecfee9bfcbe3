#include "kit/rawbuild.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace dropix::rawkit {

namespace {

// Writes fields least significant bit first into a stream of 16-bit little-endian words.
class bit_writer {
 public:
  void field(u32 value, int n, bool flag) {
    const u32 v = (value & ((1u << (n - 1)) - 1u)) | (static_cast<u32>(flag) << (n - 1));
    for (int i = 0; i < n; ++i) bits_.push_back(((v >> i) & 1u) != 0);
  }
  std::size_t bits() const { return bits_.size(); }
  std::vector<u8> bytes(std::size_t words) const {
    std::vector<u8> out(2 * words, 0);
    for (std::size_t i = 0; i < bits_.size(); ++i)
      if (bits_[i]) out[i / 8] |= static_cast<u8>(1u << (i % 8));
    return out;
  }

 private:
  std::vector<bool> bits_;
};

int bits_for(u32 max_value) {  // a field of n bits holds values below 2^(n-1)
  int n = 2;
  while (n < 15 && max_value >= (1u << (n - 1))) ++n;
  return n;
}

// A code of the frame: a shaded line (repeat 0), or `repeat` more copies of the last shaded
// line, which `line` then points to.
struct code {
  const scan_line* line;
  u32 repeat = 0;
};

struct frame_plan {
  std::vector<code> codes;
  f64 y_first = 0;
  int x_base = 0;
  int light_bits = 0;
  int dark_bits = 0;
};

void check_line(const scan_line& l) {
  if (l.runs.empty() || l.runs.size() > 6) throw std::invalid_argument("a line needs 1..6 runs");
  for (std::size_t j = 0; j < l.runs.size(); ++j) {
    if (l.runs[j].last < l.runs[j].first) throw std::invalid_argument("run ends before it starts");
    if (j > 0 && l.runs[j].first < l.runs[j - 1].last)
      throw std::invalid_argument("runs must go left to right");
  }
}

void choose_widths(frame_plan& f, const encode_options& opt) {
  int min_first = 1023;
  for (const code& c : f.codes)
    if (c.repeat == 0) min_first = std::min<int>(min_first, c.line->runs[0].first);
  f.x_base = opt.x_base >= 0 ? opt.x_base : std::clamp(min_first, 0, 1023);
  u32 max_light = 0, max_dark = 0;
  for (const code& c : f.codes) {
    if (c.repeat > 0) {
      max_light = std::max(max_light, c.repeat);
      continue;
    }
    const auto& r = c.line->runs;
    max_light = std::max<u32>(max_light, static_cast<u32>(r[0].first - f.x_base));
    for (std::size_t j = 0; j < r.size(); ++j) {
      max_dark = std::max<u32>(max_dark, static_cast<u32>(r[j].last - r[j].first));
      if (j > 0) max_light = std::max<u32>(max_light, static_cast<u32>(r[j].first - r[j - 1].last));
    }
  }
  f.light_bits = opt.light_bits > 0 ? opt.light_bits : bits_for(max_light);
  f.dark_bits = opt.dark_bits > 0 ? opt.dark_bits : bits_for(max_dark);
}

std::vector<u8> encode_frame(const frame_plan& f, const encode_options& opt) {
  bit_writer w;
  std::size_t end_mark_at = 0;
  const u32 light_max = (1u << (f.light_bits - 1)) - 1u;
  const u32 dark_max = (1u << (f.dark_bits - 1)) - 1u;
  for (const code& c : f.codes) {
    if (c.repeat > 0) {
      if (c.repeat > light_max) throw std::invalid_argument("repetition too long for light_bits");
      w.field(c.repeat, f.light_bits, true);
      continue;
    }
    const auto& r = c.line->runs;
    for (std::size_t j = 0; j < r.size(); ++j) {
      const int light = j == 0 ? r[0].first - f.x_base : r[j].first - r[j - 1].last;
      const int dark = r[j].last - r[j].first;
      if (light < 0 || static_cast<u32>(light) > light_max || static_cast<u32>(dark) > dark_max)
        throw std::invalid_argument("value does not fit the field width or x_base");
      w.field(static_cast<u32>(light), f.light_bits, false);
      w.field(static_cast<u32>(dark), f.dark_bits, j + 1 == r.size());
    }
  }
  end_mark_at = w.bits();
  w.field(0, f.light_bits, true);
  // The decoder reads one word ahead: at the end mark it has taken the word holding the
  // mark's first bit and the one after it (only one word when the mark is the first field).
  std::size_t words = (w.bits() + 15) / 16;
  const std::size_t taken = end_mark_at == 0 ? 1 : end_mark_at / 16 + 2;
  if (opt.pad_words) words = std::max(words, taken);
  const std::size_t frame_len = 12 + 2 * words;
  if (frame_len > 16383) throw std::invalid_argument("frame too long");
  std::vector<u8> out(12);
  const u32 head = static_cast<u32>(frame_len) | (static_cast<u32>(f.x_base) << 14) |
                   (static_cast<u32>(f.dark_bits) << 24) | (static_cast<u32>(f.light_bits) << 28);
  put_u32(out.data(), head);
  put_f64(out.data() + 4, f.y_first);
  const std::vector<u8> body = w.bytes(words);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

}  // namespace

std::vector<u8> encode_line_block(const std::vector<scan_line>& lines, const encode_options& opt) {
  const auto width_ok = [](int n) { return n == 0 || (n >= 1 && n <= 15); };
  if (!width_ok(opt.light_bits) || !width_ok(opt.dark_bits) || opt.x_base > 1023 || opt.max_frame_lines < 1)
    throw std::invalid_argument("field widths 1..15, x_base up to 1023, frames of at least one line");
  std::vector<frame_plan> frames;
  const scan_line* remembered = nullptr;  // last shaded line coded in this block
  int in_frame = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const scan_line& l = lines[i];
    check_line(l);
    const bool continues = !frames.empty() && in_frame < opt.max_frame_lines &&
                           l.y_count == lines[i - 1].y_count + 1.0;
    if (!continues) {
      frames.push_back({});
      frames.back().y_first = l.y_count;
      in_frame = 0;
    }
    ++in_frame;
    auto& codes = frames.back().codes;
    if (opt.repetitions && remembered && l.runs == remembered->runs) {
      if (!codes.empty() && codes.back().repeat > 0)
        ++codes.back().repeat;
      else
        codes.push_back({remembered, 1});
      continue;
    }
    codes.push_back({&l, 0});
    remembered = &l;
  }
  std::vector<u8> out(2);
  put_s16(out.data(), static_cast<s16>(opt.n_lin >= 0 ? opt.n_lin : static_cast<int>(lines.size())));
  for (frame_plan& f : frames) {
    choose_widths(f, opt);
    // Repetitions longer than the light field holds are split into several codes; a light
    // field of one bit holds no count, so its frames code repeated lines in full.
    const u32 light_max = (1u << (f.light_bits - 1)) - 1u;
    std::vector<code> split;
    for (const code& c : f.codes) {
      if (c.repeat == 0) {
        split.push_back(c);
      } else if (light_max == 0) {
        split.insert(split.end(), c.repeat, code{c.line, 0});
      } else {
        for (u32 left = c.repeat; left > 0; left -= std::min(left, light_max))
          split.push_back({c.line, std::min(left, light_max)});
      }
    }
    f.codes = std::move(split);
    const std::vector<u8> bytes = encode_frame(f, opt);
    out.insert(out.end(), bytes.begin(), bytes.end());
  }
  return out;
}

std::vector<u8> header_body(const hd_par& h) {
  std::vector<u8> out(hd_par_fmt::size);
  encode_hd_par(h, out.data());
  return out;
}

hd_par sample_header(u32 valid_since, f64 line_fr) {
  hd_par h;
  h.line_fr = line_fr;
  h.gate1 = 256;
  h.gate2 = 256;
  h.HBL = 6.50f;
  h.HBR = 6.62f;
  h.HFR = 6.71f;
  h.XSCALE0_1 = 0.1912f;
  h.XSCALE0_2 = 0.1897f;
  h.L0_1 = 252.0f;
  h.L0_2 = 248.0f;
  h.ratio_den = 3;
  h.ratio_num = 1;
  h.valid_since = valid_since;
  return h;
}

raw_builder& raw_builder::block(s16 ident, const std::vector<u8>& body) {
  return block(ident, static_cast<s16>(body.size()), body);
}

raw_builder& raw_builder::block(s16 ident, s16 cmpr_n, const std::vector<u8>& body) {
  u8 framing[block_fmt::size];
  put_s16(framing + block_fmt::ident, ident);
  put_s16(framing + block_fmt::cmpr_n, cmpr_n);
  data_.insert(data_.end(), framing, framing + sizeof framing);
  data_.insert(data_.end(), body.begin(), body.end());
  return *this;
}

raw_builder& raw_builder::header(const hd_par& h) { return block(ident_main_header, header_body(h)); }

raw_builder& raw_builder::lines(s16 ident, const std::vector<scan_line>& l, const encode_options& opt) {
  return block(ident, encode_line_block(l, opt));
}

raw_builder& raw_builder::bytes(const std::vector<u8>& b) {
  data_.insert(data_.end(), b.begin(), b.end());
  return *this;
}

raw_builder& raw_builder::reach(f64 y) {
  lines(ident_camera_a, {{y, {{10, 11}}}});
  return lines(ident_camera_b, {{y, {{10, 11}}}});
}

void raw_builder::write(const std::string& path) const {
  std::FILE* fp = std::fopen(path.c_str(), "wb");
  if (!fp) throw std::runtime_error("cannot create " + path);
  // An empty file has no data pointer, and fwrite must not be handed a null one.
  const bool ok =
      data_.empty() || std::fwrite(data_.data(), 1, data_.size(), fp) == data_.size();
  if (std::fclose(fp) != 0 || !ok) throw std::runtime_error("cannot write " + path);
}

}  // namespace dropix::rawkit
