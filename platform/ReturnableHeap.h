#pragma once
// Keeps the memory of a torn-down pipeline going back to the system. A wall
// left running for weeks tears down and rebuilds decoders at every
// reconnection; the large blocks they free must not stay in the allocator's
// arenas, or the resident size climbs by tens of MB over a night of faults.
//
// Thread: call once at the program's start, before any other thread runs.

namespace kavrel {

void KeepLargeBlocksReturnable();

}  // namespace kavrel
