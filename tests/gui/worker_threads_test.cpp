#include "app/worker_threads.h"
#include "platform/threads.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QSize>

#include <chrono>

namespace {

constexpr const char* PoolThreadName = "Thread (pooled)";

// Scaling a large picture smoothly: the raster code splits the work over the global pool.
void ScaleLargePicture() {
    QImage image(1200, 900, QImage::Format_ARGB32_Premultiplied);
    QLinearGradient gradient(0, 0, 0, 900);
    gradient.setColorAt(0, Qt::white);
    gradient.setColorAt(1, Qt::darkBlue);
    QPainter(&image).fillRect(image.rect(), gradient);
    const QImage scaled = image.scaled(500, 400, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    ASSERT_EQ(scaled.size(), QSize(500, 400));
}

TEST(EndDrawingThreads, NoPoolThreadIsLeftAfterIt) {
    ScaleLargePicture();
    ASSERT_FALSE(kv::WaitForThreadsToEnd(PoolThreadName, std::chrono::milliseconds(0)))
        << "drawing a large area started no pool thread";
    kv::EndDrawingThreads();
    EXPECT_TRUE(kv::WaitForThreadsToEnd(PoolThreadName, std::chrono::milliseconds(0)));
    // The pool is still usable afterwards.
    ScaleLargePicture();
    kv::EndDrawingThreads();
    EXPECT_TRUE(kv::WaitForThreadsToEnd(PoolThreadName, std::chrono::milliseconds(0)));
}

} // namespace
