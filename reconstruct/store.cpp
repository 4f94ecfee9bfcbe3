#include "reconstruct/store.h"

namespace dropix {

// Stand-ins until the object store lands.
void init_queues(queue_pair& a, queue_pair& b) {
  a.assign_tag = '1';
  a.wait_tag = 'V';
  b.assign_tag = '2';
  b.wait_tag = 'W';
}
drop_rec* w_alloc() { return nullptr; }
void w_free(drop_rec*) {}
void new_obj(s16, s16, f64, queue_pair&) {}
void unlink_assign(drop_rec*, queue_pair&) {}
void unlink_wait(drop_rec*, queue_pair&) {}
void shrink(drop_rec*) {}
void chain_queues(queue_pair&) {}
void show_slots() {}

}  // namespace dropix
