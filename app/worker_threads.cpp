#include "app/worker_threads.h"

#include "platform/threads.h"

#include <QThreadPool>
#include <chrono>

namespace kv {

void EndDrawingThreads() {
    // Waiting for the pool deletes its threads, but each one still has its own clean-up to run
    // after that; the system's thread list shows when it is done. Qt names them this way.
    // Once the GUI runtime has ended, the pool itself is gone (it did the waiting).
    if (QThreadPool* pool = QThreadPool::globalInstance()) {
        pool->waitForDone();
    }
    WaitForThreadsToEnd("Thread (pooled)", std::chrono::seconds(2));
}

} // namespace kv
