// The DROPIX executable: everything happens in dropix_main.
#include "control/entry.h"

int main(int argc, char** argv) { return dropix::dropix_main(argc, argv); }
