#include "tools/sim/truth.h"

#include <cinttypes>
#include <cstdio>

namespace dropix::sim {

const char* const truth_heading =
    "id,time_s,first_line_a,first_line_b,lines_a,lines_b,diameter_mm,axis_ratio,fall_speed_m_s,"
    "x_mm,y_mm,seen_both,clipped,partner";

bool write_truth(const std::string& path, const std::vector<truth_row>& rows) {
  std::FILE* fp = std::fopen(path.c_str(), "w");
  if (!fp) return false;
  std::fprintf(fp, "%s\n", truth_heading);
  for (const truth_row& r : rows)
    std::fprintf(fp, "%d,%.6f,%" PRIu64 ",%" PRIu64 ",%d,%d,%.4f,%.4f,%.4f,%.3f,%.3f,%d,%d,%d\n", r.id,
                 r.t, r.first_a, r.first_b, r.lines_a, r.lines_b, r.d, r.ratio, r.v, r.x, r.y,
                 r.both ? 1 : 0, r.clipped ? 1 : 0, r.partner);
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
    int both = 0, clipped = 0;
    if (std::sscanf(line, "%d,%lf,%" SCNu64 ",%" SCNu64 ",%d,%d,%lf,%lf,%lf,%lf,%lf,%d,%d,%d", &r.id, &r.t,
                    &r.first_a, &r.first_b, &r.lines_a, &r.lines_b, &r.d, &r.ratio, &r.v, &r.x, &r.y,
                    &both, &clipped, &r.partner) != 14)
      continue;
    r.both = both != 0;
    r.clipped = clipped != 0;
    rows.push_back(r);
  }
  std::fclose(fp);
  return rows;
}

}  // namespace dropix::sim
