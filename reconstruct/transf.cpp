#include "reconstruct/transf.h"

namespace dropix {

// Stand-in until record packing lands: no record is built.
s16 transf_1(const drop_rec*, const drop_rec*, u16*, u8*) { return 0; }

}  // namespace dropix
