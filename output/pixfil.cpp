#include "output/pixfil.h"

namespace dropix {

// Stand-in until the output files land.
void pixfil() {}

}  // namespace dropix
