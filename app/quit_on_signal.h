#pragma once

// Ends the event loop on SIGINT, SIGTERM and SIGHUP, so that a program stopped with Ctrl+C or
// by its session still closes its port and releases the port's lock file on the way out. The
// signal handler only writes a byte to a pipe; the event loop reads it and quits.

#include <QObject>

class QSocketNotifier;

namespace app {

class QuitOnSignal : public QObject {
public:
    QuitOnSignal();
    ~QuitOnSignal() override;
    QuitOnSignal(const QuitOnSignal&) = delete;
    QuitOnSignal& operator=(const QuitOnSignal&) = delete;

private:
    QSocketNotifier* m_notifier = nullptr;
};

}  // namespace app
