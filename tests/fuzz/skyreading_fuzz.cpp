// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target: two lines as a peer on the sky socket would send them, read as the first
// and the newest mount reading, then turned into a picture of the simulated sky.
#include "mountfeed/mountfeed.h"
#include "video/drivers/sky/skycamera.h"
#include "video/drivers/sky/starfield.h"

#include <QByteArray>
#include <QImage>

#include <cmath>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype end = input.indexOf('\n');
    const QByteArray firstLine = end < 0 ? QByteArray("0 0 - 0") : input.left(end);
    const QByteArray nowLine = end < 0 ? input : input.mid(end + 1);
    const auto first = voruna::parseMountReading(firstLine);
    const auto now = voruna::parseMountReading(nowLine);
    if (!first || !now)
        return 0;
    static const voruna::StarField sky;
    voruna::SkyView view;
    view.size = QSize(64, 48);
    view.offset = voruna::skyOffset(*first, *now);
    view.angle = now->angle;
    QImage picture;
    sky.render(view, &picture);
    const QPointF star = voruna::StarField::guideStarPosition(view);
    if (!std::isfinite(star.x()) || !std::isfinite(star.y()))
        std::abort();
    return 0;
}
