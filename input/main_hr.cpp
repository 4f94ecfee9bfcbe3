#include "input/main_hr.h"

namespace dropix {

// Stand-ins until main headers land.
void main_hr(raw_cursor&) {}
void main_tim() {}
main_rec make_main_rec(const hd_par&, s16, const std::string&) { return {}; }

}  // namespace dropix
