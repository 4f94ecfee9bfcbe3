// Writes the seed corpus of the whole-run fuzz target: small raw files from the kit, from a
// clean scene to the damage a logger or a disk can leave.
//   make_session_corpus DIR
#include <cstdio>
#include <string>
#include <vector>

#include "kit/rawbuild.h"
#include "kit/scene.h"

using namespace dropix;
using namespace dropix::rawkit;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_session_corpus DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  scene_options opt;
  opt.drops = 6;
  opt.mean_gap_s = 0.05;
  opt.foreign_every = 3;
  rain_scene(opt).write(dir + "/scene");

  opt.header_every = 2;
  opt.seed = 2;
  rain_scene(opt).write(dir + "/scene-repeated-headers");

  raw_builder cut = rain_scene(opt);
  std::vector<u8> bytes = cut.data();
  bytes.resize(bytes.size() - 7);
  raw_builder().bytes(bytes).write(dir + "/scene-cut-tail");

  raw_builder neg = rain_scene(opt);
  neg.block(ident_camera_b, -20, {1, 2, 3});
  neg.write(dir + "/negative-length");

  const hd_par h = sample_header(20796u * 86400u + 3600, 55000.0);
  raw_builder only_a;
  only_a.header(h).lines(ident_camera_a, disc_lines(55000.0 * 3700, 8, 100, 10));
  only_a.write(dir + "/only-camera-a");

  raw_builder two_headers;
  hd_par h2 = h;
  h2.line_fr = 34100.0;
  two_headers.header(h).lines(ident_camera_a, disc_lines(55000.0 * 3700, 8, 100, 10)).header(h2);
  two_headers.lines(ident_camera_b, disc_lines(55000.0 * 3700 + 80, 9, 300, 10));
  two_headers.write(dir + "/same-header-other-line-frequency");

  raw_builder().write(dir + "/empty");
  return 0;
}
