// Turning the captcha's encoded bytes into what the picture box shows.
#pragma once

#include "text/text.h"

#include <QImage>
#include <QSize>

namespace kv {

// An image of exactly `box` size: the decoded picture scaled to fit inside it with its aspect
// ratio kept, centred on a transparent ground. A null image when the bytes do not decode.
QImage CaptchaPictureImage(const Bytes& bytes, QSize box);

} // namespace kv
