// Threads that do work the user does not wait on frame by frame (tag reads, folder walks,
// playlist checks) give way to the GUI thread when every processor is busy.
#pragma once

namespace kes
{

// Raises the calling thread's nice value by 5, once per thread (later calls do nothing).
// Only that thread changes; where the system refuses, it runs on as it was.
void lowerThisThreadPriority();

} // namespace kes
