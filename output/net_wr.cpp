#include "output/net_wr.h"

namespace dropix {

// Stand-in until the record writer lands.
void net_wr(const drop_rec*, const drop_rec*) { wr.wr_force = 0; }

void flush_request() {
  wr.wr_force = 1;
  net_wr(nullptr, nullptr);
}

}  // namespace dropix
