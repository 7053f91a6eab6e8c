// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "video/capture/capturedevice.h"

#include <QImage>
#include <QObject>

#include <linux/videodev2.h>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace voruna {

class FrameConverter;

// Converts one camera frame at a time on a thread of its own and draws it there for the window's
// view, so that decoding and stretching a large frame never holds up the windows' thread: a slew
// button pressed meanwhile reaches the adaptor at once. The converted frame and its picture wait
// to be taken; nothing queues up behind a conversion.
class FrameWorker final : public QObject {
    Q_OBJECT
public:
    FrameWorker();
    // Waits for a conversion in progress to end.
    ~FrameWorker() override;
    FrameWorker(const FrameWorker &) = delete;
    FrameWorker &operator=(const FrameWorker &) = delete;

    bool isBusy() const;
    // Starts converting the bytes of one frame in `native` format; only when !isBusy().
    // `frame` is swapped with the buffer of the conversion before, to be filled again.
    // `converter` must stay until the conversion has ended (see cancel()).
    void convert(FrameConverter *converter, const v4l2_format &native,
                 std::vector<unsigned char> &frame);
    // Frames converted from now on are drawn for `view`.
    void setView(const DisplayView &view);
    // Moves the converted frame and its picture into `shown`; false when none waits.
    bool take(ShownFrame *shown);
    // Waits for a conversion in progress to end and drops its picture.
    void cancel();

Q_SIGNALS:
    // A conversion has ended: its picture waits to be taken unless it failed or was cancelled.
    // Emitted on the thread this object belongs to.
    void finished();

private:
    void run();
    void announce();

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    FrameConverter *m_converter = nullptr;
    v4l2_format m_native{};
    // The frame being converted: only the worker's thread touches it while m_busy.
    std::vector<unsigned char> m_frame;
    ShownFrame m_shown;
    DisplayView m_view;
    bool m_busy = false;
    bool m_ready = false;
    bool m_quit = false;
    std::thread m_thread;
};

} // namespace voruna
