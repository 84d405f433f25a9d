// How many threads a run computes with: the miner's search and tid-list
// walks and varnel's validation alike, so that a study which runs its
// experiments side by side on one thread each (BRIMEL_THREADS=1) keeps them
// from taking each other's processors.
#pragma once

// BRIMEL_THREADS when it is set to a count from 1 to 1024, else one per
// processor; any other value gets a "Warning: " line and is ignored.
int processing_threads();
