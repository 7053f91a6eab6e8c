// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "video/capture/capturedevice.h"

#include <baseclient.h>

#include <QImage>
#include <QMap>
#include <QSize>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace voruna {

class IndiCamera;

// One property of the camera as it last came from the server, copied off the client's thread.
struct IndiProperty {
    struct Number {
        double value = 0, minimum = 0, maximum = 0, step = 0;
    };
    QString name;
    int state = 0; // IPState: 0 idle, 1 ok, 2 busy, 3 alert
    QMap<QString, Number> numbers;
    QMap<QString, bool> switches;
    QMap<QString, QString> texts;
};

// The client of one camera on one server. Its callbacks run on the client library's thread:
// they copy what came and queue it to the camera on the GUI thread, never touching it there.
// Connecting to the server runs on a thread of its own, so that a slow server never holds up
// the window. The client outlives both threads: close() ends it.
class IndiClient final : public INDI::BaseClient {
public:
    enum class Progress { Pending, Described, Unreachable };

    IndiClient(IndiCamera *camera, std::string device);
    ~IndiClient() override;

    // The camera hears nothing more from `client` once this returns; the client leaves the server
    // and is deleted when its connect and the callback under way (a large frame being read) are
    // done: at once when they are, else on a thread of its own.
    static void close(std::unique_ptr<IndiClient> client);

    // Starts connecting; the camera hears onServerReached() when it is done.
    void startConnecting();
    // Send new values of numbers of one property (a driver may read the elements of a vector
    // together: send them together), or turn `on` on and `off` off in a switch of two (of one,
    // a button, without `off`), of the camera. The message is built afresh: the library's own
    // copies belong to its thread.
    void sendNumbers(const char *property,
                     std::initializer_list<std::pair<const char *, double>> values);
    void sendSwitch(const char *property, const char *on, const char *off = nullptr);

    // Frames decoded from now on are drawn for `view` on the library's thread.
    void setView(const DisplayView &view);
    // Frees `spent` on the library's thread, with the next frame: a large frame's memory takes
    // a while to give back.
    void letGo(ShownFrame &&spent);

    // Waits up to `limit` until the camera has told its size (connecting it on the server first
    // when it is not) or the server proved unreachable.
    Progress waitForCamera(std::chrono::milliseconds limit);

protected:
    void newProperty(INDI::Property property) override { take(property); }
    void updateProperty(INDI::Property property) override { take(property); }
    void serverDisconnected(int) override;

private:
    // What the callbacks reach the camera through: closing clears `camera`, and `busy` counts
    // the callbacks under way.
    struct Link {
        std::mutex mutex;
        std::condition_variable idle;
        IndiCamera *camera = nullptr;
        int busy = 0;
    };
    class Callback;
    // Queues `call` to the camera on the GUI thread, unless it is closed.
    void post(std::function<void(IndiCamera *)> call);
    void take(INDI::Property property);
    void frame(const INDI::WidgetView<IBLOB> &blob);
    void settle(Progress progress);

    // The newest decoded frame and its picture, waiting for the GUI thread: a frame that comes
    // before the one before was taken replaces it, so a busy window never has frames piling up
    // behind it. Beside it the window's view, which the GUI thread sets.
    struct FrameSlot {
        std::mutex mutex;
        ShownFrame shown;
        QString error;
        DisplayView view;
        ShownFrame spent;
        bool queued = false;
    };

    std::shared_ptr<Link> m_link = std::make_shared<Link>();
    std::shared_ptr<FrameSlot> m_newest = std::make_shared<FrameSlot>();
    std::string m_device;
    std::thread m_connector;
    std::atomic<bool> m_connectDone = true;
    std::mutex m_mutex;
    std::condition_variable m_settled;
    Progress m_progress = Progress::Pending;
    // Touched on the library's thread only.
    bool m_blobsAsked = false;
    QSize m_streamSize;
    bool m_connecting = false;
};

} // namespace voruna
