#include "tools/sim/logger.h"

#include <algorithm>
#include <cmath>

namespace dropix::sim {

namespace {

// Encodes a run of lines as one block, halving it (at the gap nearest the middle) while the
// body is too long for the framing.
void emit(s16 ident, std::vector<rawkit::scan_line> lines, const rawkit::encode_options& code,
          std::vector<planned_block>& out) {
  std::vector<u8> body = rawkit::encode_line_block(lines, code);
  if (body.size() <= static_cast<std::size_t>(max_block_body)) {
    planned_block b;
    b.ident = ident;
    b.close = lines.back().y_count;
    b.lines = std::move(lines);
    b.body = std::move(body);
    out.push_back(std::move(b));
    return;
  }
  const std::size_t mid = lines.size() / 2;
  std::size_t cut = mid;
  for (std::size_t d = 0; d < mid; ++d) {
    if (lines[mid + d].y_count != lines[mid + d - 1].y_count + 1.0) { cut = mid + d; break; }
    if (lines[mid - d].y_count != lines[mid - d - 1].y_count + 1.0) { cut = mid - d; break; }
  }
  emit(ident, {lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(cut)}, code, out);
  emit(ident, {lines.begin() + static_cast<std::ptrdiff_t>(cut), lines.end()}, code, out);
}

std::vector<u8> random_body(rng& r) {
  std::vector<u8> body(static_cast<std::size_t>(8 + r.below(120)));
  for (u8& b : body) b = static_cast<u8>(r.below(256));
  return body;
}

}  // namespace

rawkit::encode_options coding(const logger_options& o) {
  rawkit::encode_options c;
  if (o.fixed_fields) {
    c.light_bits = 11;
    c.dark_bits = 8;
    c.x_base = 0;
  }
  return c;
}

std::vector<planned_block> camera_blocks(s16 ident, const std::vector<rawkit::scan_line>& lines,
                                         f64 line_fr, const logger_options& o) {
  std::vector<planned_block> out;
  std::vector<rawkit::scan_line> cur;
  const double slice = o.block_seconds * line_fr;
  const rawkit::encode_options code = coding(o);
  for (const rawkit::scan_line& l : lines) {
    if (!cur.empty()) {
      const bool gap = l.y_count != cur.back().y_count + 1.0;
      const bool full = static_cast<int>(cur.size()) >= o.block_lines ||
                        l.y_count - cur.front().y_count >= slice;
      if (static_cast<int>(cur.size()) == max_block_lines || (gap && full)) {
        emit(ident, std::move(cur), code, out);
        cur.clear();
      }
    }
    cur.push_back(l);
  }
  if (!cur.empty()) emit(ident, std::move(cur), code, out);
  return out;
}

std::vector<planned_block> plan_file(const hd_par& h, const std::vector<rawkit::scan_line>& lines_a,
                                     const std::vector<rawkit::scan_line>& lines_b, double start,
                                     double end, const logger_options& o, rng& r) {
  std::vector<planned_block> plan = camera_blocks(ident_camera_a, lines_a, h.line_fr, o);
  std::vector<planned_block> b = camera_blocks(ident_camera_b, lines_b, h.line_fr, o);
  plan.insert(plan.end(), std::make_move_iterator(b.begin()), std::make_move_iterator(b.end()));
  const std::vector<u8> header = rawkit::header_body(h);
  for (double t = start; t < end; t += o.header_every) {
    planned_block hb;
    hb.ident = ident_main_header;
    hb.close = std::floor(t * h.line_fr) - 0.5;  // before any block closed on that line
    hb.body = header;
    plan.push_back(std::move(hb));
  }
  if (o.foreign_per_min > 0) {
    const double rate = o.foreign_per_min / 60.0;
    for (double t = start + r.exponential(rate); t < end; t += r.exponential(rate)) {
      planned_block fb;
      fb.ident = r.uniform() < 0.5 ? s16{0} : s16{7};
      fb.close = std::floor(t * h.line_fr) + 0.25;
      fb.body = random_body(r);
      plan.push_back(std::move(fb));
    }
  }
  std::stable_sort(plan.begin(), plan.end(), [](const planned_block& p, const planned_block& q) {
    return p.close != q.close ? p.close < q.close : p.ident < q.ident;
  });
  return plan;
}

rawkit::raw_builder build_file(const std::vector<planned_block>& plan) {
  rawkit::raw_builder out;
  for (const planned_block& b : plan) out.block(b.ident, b.body);
  return out;
}

}  // namespace dropix::sim
