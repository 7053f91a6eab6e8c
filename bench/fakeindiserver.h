// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QSemaphore>
#include <QSize>
#include <QThread>

#include <atomic>

// An INDI server on this computer with one camera ("Bench CCD") that answers each exposure with
// a 16-bit mono FITS frame of `size` once the exposure's time has passed, as a camera would. It
// runs on a thread of its own, as a server in another process does.
class FakeIndiServer final : public QThread {
public:
    explicit FakeIndiServer(QSize size);
    ~FakeIndiServer() override;
    quint16 port() const { return m_port; }
    int framesSent() const { return m_sent.load(); }

protected:
    void run() override;

private:
    QByteArray definitions() const;

    QSize m_size;
    QByteArray m_reply; // the frame's message, made once
    QSemaphore m_ready;
    quint16 m_port = 0;
    std::atomic<int> m_sent{0};
};
