// A simulated recording still being written, read by a run after each stretch the logger has
// appended: drops of all sizes and fall speeds, so camera B's silhouettes trail camera A's by
// different delays and the readers stop at different places. The runs must end with the
// files of one run on the whole recording.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "reader/hyd_reader.h"
#include "tests/support/fixture.h"
#include "tests/support/passes.h"
#include "tools/sim/simulate.h"

namespace dropix {
namespace {

using testing::pass_options;
using testing::read_bytes;
using testing::run_passes;
using testing::write_bytes;

class growth : public testing::dropix_test {
 protected:
  void SetUp() override { testing::write_default_config(); }
  std::vector<u8> take() {
    std::vector<u8> all = read_bytes("V26342_1.hyd");
    for (const char* f : {"V26342_1.hd", "V26342_1.abh"}) {
      const std::vector<u8> b = read_bytes(f);
      all.insert(all.end(), b.begin(), b.end());
    }
    return all;
  }
  void remove_output() {
    for (const char* f : {"V26342_1.hyd", "V26342_1.hd", "V26342_1.abh"})
      std::filesystem::remove(testing::test_path(f));
  }
};

TEST_F(growth, a_simulated_recording_read_while_it_grows_loses_no_drop) {
  for (std::uint64_t seed : {3u, 4u}) {
    sim::sim_options o;
    o.event.rain = 60;
    o.event.minutes = 0.25;
    o.event.turbulence = 0.2;
    o.event.close_pairs = 4;
    o.seed = seed;
    const std::vector<u8> recording = sim::simulate(o).raw;
    remove_output();
    write_bytes("V26342_1.AB", recording);
    ASSERT_EQ(run_passes("V26342_1.AB").status, 0);
    const std::vector<u8> reference = take();
    std::mt19937 rng(static_cast<unsigned>(seed));
    for (int sequence = 0; sequence < 40; ++sequence) {
      SCOPED_TRACE("seed " + std::to_string(seed) + ", sequence " + std::to_string(sequence));
      remove_output();
      std::vector<std::size_t> cuts;
      for (int i = 0, n = 2 + static_cast<int>(rng() % 5); i < n; ++i) cuts.push_back(1 + rng() % (recording.size() - 1));
      std::sort(cuts.begin(), cuts.end());
      for (std::size_t cut : cuts) {
        write_bytes("V26342_1.AB", std::vector<u8>(recording.begin(), recording.begin() + static_cast<std::ptrdiff_t>(cut)));
        ASSERT_EQ(run_passes("V26342_1.AB", pass_options{.tick_every = 1 + sequence % 4}).status, 0) << err_text();
      }
      write_bytes("V26342_1.AB", recording);
      ASSERT_EQ(run_passes("V26342_1.AB").status, 0);
      ASSERT_TRUE(take() == reference);
    }
  }
}

}  // namespace
}  // namespace dropix
