#include "input/line_time.h"

namespace dropix {

// Stand-in until line timing lands.
void line_time(s16) {}

}  // namespace dropix
