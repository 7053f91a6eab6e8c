// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/drivers/v4l2/frameworker.h"

#include "video/drivers/v4l2/frameconverter.h"

#include <sys/resource.h>

#include <utility>

namespace voruna {

FrameWorker::FrameWorker() : m_thread(&FrameWorker::run, this)
{}

FrameWorker::~FrameWorker()
{
    {
        const std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

bool FrameWorker::isBusy() const
{
    const std::lock_guard lock(m_mutex);
    return m_busy;
}

void FrameWorker::convert(FrameConverter *converter, const v4l2_format &native,
                          std::vector<unsigned char> &frame)
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_busy)
            return;
        m_converter = converter;
        m_native = native;
        m_frame.swap(frame);
        m_busy = true;
    }
    m_wake.notify_one();
}

void FrameWorker::setView(const DisplayView &view)
{
    const std::lock_guard lock(m_mutex);
    m_view = view;
}

bool FrameWorker::take(ShownFrame *shown)
{
    const std::lock_guard lock(m_mutex);
    if (!m_ready)
        return false;
    *shown = std::exchange(m_shown, ShownFrame());
    m_ready = false;
    return true;
}

void FrameWorker::cancel()
{
    std::unique_lock lock(m_mutex);
    m_done.wait(lock, [this] { return !m_busy; });
    m_shown = ShownFrame();
    m_ready = false;
}

void FrameWorker::announce()
{
    Q_EMIT finished();
}

void FrameWorker::run()
{
    // A little below the windows' thread (Linux sets the priority of the calling thread), so
    // that on a busy machine a button press runs before the rest of a conversion.
    setpriority(PRIO_PROCESS, 0, getpriority(PRIO_PROCESS, 0) + 5);
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_quit || m_busy; });
        if (m_quit)
            return;
        FrameConverter *converter = m_converter;
        const v4l2_format native = m_native;
        lock.unlock();
        ShownFrame shown;
        const bool converted =
            converter->convert(native, m_frame.data(), m_frame.size(), &shown.frame);
        if (converted) {
            shown.sampleBits = FrameConverter::sampleBits(native.fmt.pix.pixelformat);
            lock.lock();
            shown.view = m_view; // the newest view, taken once the frame is converted
            lock.unlock();
            renderView(shown.frame, shown.sampleBits, shown.view, &shown.picture);
        }
        lock.lock();
        m_busy = false;
        if (converted) {
            m_shown = std::move(shown);
            m_ready = true;
        }
        // Also after a frame that could not be converted: a newer one may be waiting for the
        // worker. Runs on this object's thread; dropped with the object if it goes first.
        QMetaObject::invokeMethod(this, &FrameWorker::announce, Qt::QueuedConnection);
        m_done.notify_all();
    }
}

} // namespace voruna
