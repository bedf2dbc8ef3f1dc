#pragma once
// The program's own codec on both ends of the simulator tests: requests are encoded and
// answers decoded exactly as the program does it.

#include "zecorla.h"

#include <QByteArray>
#include <QList>

#include <memory>
#include <vector>

using CorlaMessages = std::vector<std::unique_ptr<ZelCorlaCommand>>;

// Pours the datagrams, in order, through one receive buffer and one parser.
inline CorlaMessages decodeAnswers(const QList<QByteArray>& datagrams)
{
    CircularByteBuffer buffer(ZelCorlaProcessor::ReceiveBufferSize);
    ZelCorlaProcessor parser;
    CorlaMessages messages;
    for (const QByteArray& datagram : datagrams) {
        buffer.write(reinterpret_cast<const uint8_t*>(datagram.constData()),
                     uint64_t(datagram.size()));
        parser.drive(buffer, [&messages](std::unique_ptr<ZelCorlaCommand> message) {
            messages.push_back(std::move(message));
        });
    }
    return messages;
}

inline QByteArray requestFrame(ZelCorlaCommandPayload& payload, uint16_t responsePort)
{
    payload.setResponsePort(responsePort);
    const std::vector<uint8_t> frame = ZelCorlaCommand(&payload).frame();
    return QByteArray(reinterpret_cast<const char*>(frame.data()), int(frame.size()));
}
