// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/relay_board_sim.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <initializer_list>

#include "sim/pseudo_terminal.h"

namespace sim {

namespace {

constexpr qsizetype kChunkSize = qsizetype{64} * 1024;

}  // namespace

RelayBoardSim::RelayBoardSim(PseudoTerminal& terminal, QObject* parent)
    : QObject(parent), m_terminal(&terminal) {
    if (!terminal.isOpen()) {
        m_serving = false;
        return;
    }
    const int master = terminal.masterDescriptor();
    m_readNotifier = new QSocketNotifier(master, QSocketNotifier::Read, this);
    m_writeNotifier = new QSocketNotifier(master, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &RelayBoardSim::readFromMaster);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &RelayBoardSim::writeToMaster);
}

RelayBoardSim::RelayBoardSim(QIODevice& device, QObject* parent)
    : QObject(parent), m_device(&device) {
    connect(&device, &QIODevice::readyRead, this, &RelayBoardSim::readFromDevice);
    // Bytes the device already holds announced themselves before the board was listening.
    QMetaObject::invokeMethod(this, &RelayBoardSim::readFromDevice, Qt::QueuedConnection);
    connect(&device, &QIODevice::bytesWritten, this, [this] {
        if (m_device->bytesToWrite() == 0) {
            Q_EMIT outputDrained();
        }
    });
}

RelayBoardSim::~RelayBoardSim() = default;

void RelayBoardSim::send(const QByteArray& bytes) {
    if (!m_serving || bytes.isEmpty()) {
        return;
    }
    if (m_device != nullptr) {
        m_device->write(bytes);
        return;
    }
    m_output.append(bytes);
    writeToMaster();
}

qint64 RelayBoardSim::pendingOutput() const {
    if (m_device != nullptr) {
        return m_device->bytesToWrite();
    }
    return m_output.size() - m_outputStart;
}

void RelayBoardSim::hangUp() {
    stopServing();
    if (m_device != nullptr) {
        m_device->close();
    } else {
        m_terminal->hangUp();
    }
    Q_EMIT hungUp();
}

void RelayBoardSim::readFromMaster() {
    std::array<char, kChunkSize> buffer{};
    for (;;) {
        const ssize_t count = ::read(m_terminal->masterDescriptor(), buffer.data(), buffer.size());
        if (count > 0) {
            takeBytes(QByteArray(buffer.data(), count));
            if (!m_serving) {
                return;
            }
            continue;
        }
        if (count < 0 && (errno == EINTR)) {
            continue;
        }
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return;
        }
        // No slave is open any more, or the master failed: reading again would only repeat it.
        stopServing();
        Q_EMIT lineClosed();
        return;
    }
}

void RelayBoardSim::writeToMaster() {
    while (m_serving && m_outputStart < m_output.size()) {
        const qsizetype size = std::min(m_output.size() - m_outputStart, kChunkSize);
        const ssize_t count =
            ::write(m_terminal->masterDescriptor(), m_output.constData() + m_outputStart,
                    static_cast<std::size_t>(size));
        if (count > 0) {
            m_outputStart += count;
            continue;
        }
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            m_writeNotifier->setEnabled(true);
            return;
        }
        stopServing();
        Q_EMIT lineClosed();
        return;
    }
    if (!m_serving) {
        return;
    }
    m_output.clear();
    m_outputStart = 0;
    m_writeNotifier->setEnabled(false);
    Q_EMIT outputDrained();
}

void RelayBoardSim::readFromDevice() {
    if (m_serving) {
        takeBytes(m_device->readAll());
    }
}

void RelayBoardSim::takeBytes(const QByteArray& bytes) {
    m_receivedBytes += bytes.size();
    const bool channel1Before = m_board.relayOn(1);
    const bool channel2Before = m_board.relayOn(2);
    const RelayBoard::Result result = m_board.feed(
        std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                      static_cast<std::size_t>(bytes.size())));
    send(QByteArray(reinterpret_cast<const char*>(result.reply.data()),
                    static_cast<qsizetype>(result.reply.size())));
    for (const std::vector<std::uint8_t>& frame : result.accepted) {
        Q_EMIT frameAccepted(QByteArray(reinterpret_cast<const char*>(frame.data()),
                                        static_cast<qsizetype>(frame.size())));
    }
    for (std::size_t i = 0; i < result.rejected; ++i) {
        Q_EMIT frameRejected();
    }
    if (m_board.relayOn(1) != channel1Before || m_board.relayOn(2) != channel2Before) {
        Q_EMIT relaysChanged(m_board.relayOn(1), m_board.relayOn(2));
    }
}

void RelayBoardSim::stopServing() {
    m_serving = false;
    for (QSocketNotifier** notifier : {&m_readNotifier, &m_writeNotifier}) {
        if (*notifier != nullptr) {
            (*notifier)->setEnabled(false);
            (*notifier)->deleteLater();
            *notifier = nullptr;
        }
    }
    m_output.clear();
    m_outputStart = 0;
}

}  // namespace sim
