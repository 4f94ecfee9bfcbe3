#include "tools/sim/truth.h"

#include <cinttypes>
#include <cstdio>

namespace dropix::sim {

const char* const truth_heading =
    "id,time_s,first_line_a,first_line_b,lines_a,lines_b,diameter_mm,axis_ratio,fall_speed_m_s,"
    "x_mm,y_mm,seen_both,clipped,partner,axis_ratio_b,x_b_mm,y_b_mm,splash,burst,pix_a_lo,pix_a_hi,pix_b_lo,"
    "pix_b_hi";

std::string truth_line(const truth_row& r) {
  char buf[320];
  std::snprintf(buf, sizeof buf,
                "%d,%.6f,%" PRIu64 ",%" PRIu64 ",%d,%d,%.4f,%.4f,%.4f,%.3f,%.3f,%d,%d,%d,%.4f,%.3f,%.3f,%d,%d,%d,%d,%d,%d",
                r.id, r.t, r.first_a, r.first_b, r.lines_a, r.lines_b, r.d, r.ratio, r.v, r.x, r.y, r.both ? 1 : 0,
                r.clipped ? 1 : 0, r.partner, r.ratio_b, r.x_b, r.y_b, r.splash ? 1 : 0, r.burst, r.pix_a_lo,
                r.pix_a_hi, r.pix_b_lo, r.pix_b_hi);
  return buf;
}

bool write_truth(const std::string& path, const std::vector<truth_row>& rows) {
  std::FILE* fp = std::fopen(path.c_str(), "w");
  if (!fp) return false;
  std::fprintf(fp, "%s\n", truth_heading);
  for (const truth_row& r : rows)
    std::fprintf(fp, "%s\n", truth_line(r).c_str());
  return std::fclose(fp) == 0;
}

std::vector<truth_row> read_truth(const std::string& path) {
  std::vector<truth_row> rows;
  std::FILE* fp = std::fopen(path.c_str(), "r");
  if (!fp) return rows;
  char line[512];
  if (!std::fgets(line, sizeof line, fp)) {
    std::fclose(fp);
    return rows;
  }
  while (std::fgets(line, sizeof line, fp)) {
    truth_row r;
    int both = 0, clipped = 0, splash = 0, used = 0;
    if (std::sscanf(line, "%d,%lf,%" SCNu64 ",%" SCNu64 ",%d,%d,%lf,%lf,%lf,%lf,%lf,%d,%d,%d%n", &r.id, &r.t,
                    &r.first_a, &r.first_b, &r.lines_a, &r.lines_b, &r.d, &r.ratio, &r.v, &r.x, &r.y,
                    &both, &clipped, &r.partner, &used) != 14)
      continue;
    r.both = both != 0;
    r.clipped = clipped != 0;
    // The later columns, when there (files of older simulators end here).
    r.ratio_b = r.ratio;
    r.x_b = r.x;
    r.y_b = r.y;
    if (std::sscanf(line + used, ",%lf,%lf,%lf,%d,%d,%d,%d,%d,%d", &r.ratio_b, &r.x_b, &r.y_b, &splash, &r.burst,
                    &r.pix_a_lo, &r.pix_a_hi, &r.pix_b_lo, &r.pix_b_hi) == 9) {
      r.splash = splash != 0;
    } else {
      r = truth_row{r.id, r.t, r.first_a, r.first_b, r.lines_a, r.lines_b, r.d, r.ratio, r.v, r.x, r.y, r.both,
                    r.clipped, r.partner, r.ratio, r.x, r.y};
    }
    rows.push_back(r);
  }
  std::fclose(fp);
  return rows;
}

}  // namespace dropix::sim
