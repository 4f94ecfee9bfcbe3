#include "common/dropix.h"

namespace dropix {

namespace {
void close_if_open(std::FILE*& fp) {
  if (fp) std::fclose(fp);
  fp = nullptr;
}
}  // namespace

void reset_all_state() {
  close_if_open(raw.raw_fp);
  close_if_open(wr.pix_fp);
  close_if_open(wr.hd_fp);
  close_if_open(wr.abh_fp);
  ctl = {};
  diag = {};
  settings = {};
  raw = {};
  mp = {};
  hdr = {};
  dec = {};
  timing = {};
  store = {};
  corr_tables = {};
  wr = {};
}

}  // namespace dropix
