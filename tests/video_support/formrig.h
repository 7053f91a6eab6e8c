// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "video_support/fakev4l2.h"
#include "video_support/stubsource.h"

#include "video/capturesubwindow.h"
#include "video/drivers/v4l2/v4l2device.h"
#include "video/form2.h"
#include "video/previewwidget.h"

#include <QApplication>
#include <QStatusBar>
#include <QTimer>

#include <functional>
#include <memory>

namespace voruna::test {

// The fake cameras first, then the scripted non-camera drivers, as the program lists them.
struct FormRig {
    std::shared_ptr<FakeV4l2> fake = std::make_shared<FakeV4l2>();
    StubSource *stubs = nullptr;
    std::unique_ptr<CaptureLayer> layer;
    std::unique_ptr<Form2> form;

    explicit FormRig(std::vector<StubDriver> stubDrivers = {})
    {
        std::vector<std::unique_ptr<DriverSource>> sources;
        sources.push_back(std::make_unique<V4l2DriverSource>(fake));
        auto stubSource = std::make_unique<StubSource>(std::move(stubDrivers));
        stubs = stubSource.get();
        sources.push_back(std::move(stubSource));
        layer = makeCaptureLayer(std::move(sources));
    }
    ~FormRig() { close(); }

    Form2 &open()
    {
        form = std::make_unique<Form2>(*layer);
        form->Form2_Form_Load();
        form->show();
        return *form;
    }
    void close()
    {
        if (!form)
            return;
        form->Form2_Form_Unload();
        form.reset();
    }
    CaptureSubWindow *sub() const
    {
        return dynamic_cast<CaptureSubWindow *>(form->captureWindow());
    }
    PreviewWidget *picture() const { return sub()->findChild<PreviewWidget *>(); }
    QString status() const { return form->StatusBar->currentMessage(); }
};

// Runs `act` on the next modal dialog once it is showing.
inline void onModal(std::function<void(QWidget *)> act)
{
    auto *timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, act] {
        if (QWidget *dialog = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            act(dialog);
        }
    });
    timer->start();
}

} // namespace voruna::test
