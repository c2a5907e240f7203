#pragma once
// Background threads yield to the window's thread.

namespace vessora::ThreadPriority {

// Makes the calling thread (and every thread it starts later) a background
// thread. A measurement or scan keeps every core busy; without this the
// window's thread queues behind its own workers for whole time slices on a
// two-core machine, and the window stutters. Qt's thread priorities do not
// reach the Linux scheduler, so on Linux this lowers the thread's own nice
// value; on macOS it gives the thread the utility quality of service. Calling
// it again on the same thread changes nothing.
void lowerCurrentThread();

} // namespace vessora::ThreadPriority
