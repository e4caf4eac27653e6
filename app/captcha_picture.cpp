#include "app/captcha_picture.h"

#include "app/image_decoder.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

namespace kv {

QImage CaptchaPictureImage(const Bytes& bytes, QSize box) {
    const std::optional<DecodedImage> decoded = DecodeImage(bytes);
    if (!decoded || box.isEmpty()) {
        return {};
    }
    // Wraps the decoder's pixels without copying; only read while `decoded` lives.
    const QImage source(decoded->rgba.data(), decoded->width, decoded->height, decoded->width * 4,
                        QImage::Format_RGBA8888);
    const double scale = std::min(static_cast<double>(box.width()) / decoded->width,
                                  static_cast<double>(box.height()) / decoded->height);
    const QSize fitted(std::max(1, static_cast<int>(std::lround(decoded->width * scale))),
                       std::max(1, static_cast<int>(std::lround(decoded->height * scale))));

    QImage picture(box, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(
        QRect(QPoint((box.width() - fitted.width()) / 2, (box.height() - fitted.height()) / 2), fitted),
        source);
    return picture;
}

} // namespace kv
