// A preload library for measuring what the .hyd's syncs cost: fsync and fdatasync return at
// once without syncing. bench/throughput.sh runs dropix with and without it, side by side.
// Never for real runs: a run under it leaves files that a crash could lose.
extern "C" {
int fsync(int) { return 0; }
int fdatasync(int) { return 0; }
}
