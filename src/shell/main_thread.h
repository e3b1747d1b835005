// Hands work to the thread that runs the event loop (Qt's, or a Win32
// message loop where there is no Qt) and waits for it.
// The instance channel, the UDP server and the conversion commands use it
// in both the window and the headless program.
#pragma once

#include <functional>

namespace qn {

// Runs work on the main thread (directly when called there) and returns
// when it is done. Needs a running QCoreApplication.
void RunOnMainThread(const std::function<void()>& work);
// Queues work for the main thread and returns at once.
void PostToMainThread(std::function<void()> work);
// Runs what is waiting for the main thread now (called on the main thread
// while it waits for something itself).
void ProcessMainThreadEvents();
// Ends the main thread's event loop; any thread.
void QuitMainThreadLoop();

}  // namespace qn
