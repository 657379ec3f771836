#pragma once
// Keeps the memory of a torn-down pipeline going back to the system. A wall
// left running for weeks tears down and rebuilds decoders at every
// reconnection; the large blocks they free must not stay in the allocator's
// arenas, or the resident size climbs by tens of MB over a night of faults.
//
// Thread: call once at the program's start, before any other thread runs.

namespace kavrel {

void KeepLargeBlocksReturnable();

// Gives the allocator's free pages back to the system, in every arena. A
// torn-down decoder frees many blocks under the mapping threshold, spread over
// the arena its thread used; only an arena's top goes back by itself, so the
// pages of the holes stay resident until something is allocated there, and a
// wall's resident size creeps up over a night of reconnections.
// Costs a walk over the free lists (0.6 to 3.5 ms in a 16-tile wall), so it runs
// at most once a second: a server's tiles tear down together at a
// reconnection, and the first of them pays for the walk; what the others free
// goes back at the next teardown, so nothing accumulates.
//
// Thread: any; takes each arena's lock in turn.
void ReturnFreedMemory();

}  // namespace kavrel
