// Inputs of the micro benchmarks, taken from simulated rain: the line-block bodies of a
// recording, its decoded blocks, the objects piece assembly makes of them and the pairs
// matching makes of those. Built once per rain rate and kept for all benchmarks.
#pragma once

#include <cstdio>
#include <memory>
#include <vector>

#include "common/diag.h"
#include "common/records.h"
#include "reconstruct/store.h"

namespace dropix::bench {

// A block body inside the recording's bytes.
struct body_ref {
  std::size_t at = 0;   // offset of the body in the raw bytes
  std::size_t len = 0;  // body length
  s16 ident = 0;        // camera
};

// One object as piece assembly left it in a Wait-queue, kept outside the store.
struct object_copy {
  s16 pix_min = 0, pix_max = 0, max_wid = 0, line_no = 0, overflow = 0;
  f64 y_first = 0, y_last = 0;
  std::vector<piece> pieces;
};

// An object outside the store, as eval_dr and transf_1 read it.
class held_object {
 public:
  explicit held_object(const object_copy& c);
  held_object(held_object&&) = default;  // the pieces stay where they are
  held_object(const held_object&) = delete;
  held_object& operator=(const held_object&) = delete;
  const drop_rec* get() const { return &rec_; }

 private:
  std::vector<piece> pieces_;
  drop_rec rec_;
};

struct recording {
  double rain = 0;                    // mm/h
  std::vector<u8> raw;                // the raw file
  std::vector<body_ref> bodies;       // camera line blocks in file order
  std::size_t body_bytes = 0;         // their bytes
  std::vector<std::unique_ptr<line_blk_rec>> decoded_a;  // camera A blocks, decoded
  std::size_t lines_a = 0;            // scan lines in decoded_a
  std::vector<object_copy> objects_a, objects_b;  // in the order piece assembly made them
  std::vector<std::pair<held_object, held_object>> pairs;  // matched, in output order
  header_list headers;
  corr_tables_rec corr;
  std::size_t record_bytes = 0;       // bytes of the drop records of `pairs`
};

// The recording of `minutes` of rain at `rain` mm/h (seed 1), built on first use. At most
// `max_decoded` camera A blocks are kept decoded.
const recording& recording_at(double rain, double minutes = 2.0, std::size_t max_decoded = 400);

// Diagnostics whose error stream goes nowhere.
diagnostics quiet_diagnostics();

// Puts the objects [from, to) into the pair's Wait-queue as piece assembly would, oldest first.
void load_wait_queue(store_state& store, queue_pair& qp, const std::vector<object_copy>& objects,
                     std::size_t from, std::size_t to, diagnostics& d);

// Releases every object of the store.
void clear_store(store_state& store, diagnostics& d);

}  // namespace dropix::bench
