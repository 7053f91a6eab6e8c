// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QSemaphore>
#include <QSize>
#include <QThread>

namespace voruna::test {

// An INDI server with one CCD camera that keeps its state as a driver does: the window of the
// sensor and the binning chosen stay for the next client, an exposure's picture has the size of
// when it began, and an abort ends the exposure. It can hold its answers until the test lets them
// go. It runs on a thread of its own: a listing waits for it on the GUI thread.
class FakeCcdServer : public QThread {
public:
    struct Options {
        QByteArray device = "Fake CCD";
        QSize sensor{520, 520};
        // The camera is described only once releaseDefinitions() is called; until then the
        // server tells of other devices now and then, as a busy server does.
        bool holdDefinitions = false;
        // Exposures end only once releaseExposures() is called.
        bool holdExposures = false;
        // Without: an aborted exposure still sends its picture (it was on its way).
        bool honoursAbort = true;
    };

    explicit FakeCcdServer(Options options);
    ~FakeCcdServer() override;
    quint16 port() const { return m_port; }

    void releaseDefinitions();
    // Ends the exposures held so far and holds no more.
    void releaseExposures();
    // How many new values of `property` the clients sent.
    int received(const QByteArray &property) const;

protected:
    void run() override;

private:
    Options m_options;
    QObject *m_home = nullptr; // on the server's thread, while it runs
    QSemaphore m_ready;
    quint16 m_port = 0;
    mutable QMutex m_mutex;
    QHash<QByteArray, int> m_received;

    friend class FakeCcdSession;
};

} // namespace voruna::test
