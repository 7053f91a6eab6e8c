// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "video_support/fakev4l2.h"

#include "video/capture/capturelayer.h"
#include "video/drivers/v4l2/v4l2device.h"

#include <QMdiArea>
#include <QPair>
#include <QStringList>

#include <memory>

namespace voruna::test {

// A capture layer over the fake kernel, a client area to create capture windows in, and the
// notifications they sent.
struct CaptureRig {
    std::shared_ptr<FakeV4l2> fake = std::make_shared<FakeV4l2>();
    std::unique_ptr<CaptureLayer> layer = makeV4l2CaptureLayer(fake);
    std::unique_ptr<QMdiArea> area = std::make_unique<QMdiArea>();
    QList<QPair<int, QString>> statuses;
    QList<QPair<int, QString>> errors;

    CaptureWindow *createWindow()
    {
        area->resize(640, 480);
        CaptureWindow *window =
            layer->createCaptureWindow(area.get(), QStringLiteral("cam"), QRect(0, 0, 160, 120));
        window->setStatusHook([this](CaptureWindow *, int id, const char *text) {
            statuses.append({id, QString::fromLocal8Bit(text)});
            return 0;
        });
        window->setErrorHook([this](CaptureWindow *, int id, const char *text) {
            errors.append({id, QString::fromLocal8Bit(text)});
            return 0;
        });
        return window;
    }
};

} // namespace voruna::test
