// Qt's raster engine draws large areas in the global thread pool; its threads outlive the window.
#pragma once

namespace kv {

// Stops the pool's threads and waits until they are gone, so that none of them is still being
// torn down while the process exits. Call it after the GUI runtime has ended.
void EndDrawingThreads();

} // namespace kv
