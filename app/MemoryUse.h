#pragma once
// How the program's heap gives memory back to the system. Each download thread gets a heap arena
// of its own, and an arena keeps what its thread freed: without these, every thread would hold
// on to the most it ever used (a page of several megabytes) for the rest of the run.

namespace vantrel {

// Call once, before any thread starts: large blocks always come from and go back to the system.
void SetMemoryPolicy();

// Hands the free parts of every arena back to the system (after loading, after a busy spell).
void ReturnFreedMemory();

}  // namespace vantrel
