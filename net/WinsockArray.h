// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "net/Winsock.h"

#include <QObject>
#include <vector>

// A control array of sockets: element 0 exists from
// construction; load(n) creates element n, closed, with the protocol, local
// port (as element 0's localPort() reports it), remote host and remote port
// that element 0 has at that moment. A new element only takes the local port
// as a property: it does not listen (nor do anything else) until told to.
// Elements live as long as the array; the array only grows.
//
// Every event of every element is re-emitted with the element's index.
class WinsockArray : public QObject
{
    Q_OBJECT
public:
    explicit WinsockArray(QObject *parent = nullptr);

    // The element with that index, or nullptr when there is none.
    Winsock *element(int index) const;
    // Highest index in use (0 while only element 0 exists).
    int ubound() const { return static_cast<int>(m_elements.size()) - 1; }
    // Creates element index (index >= 1, not in use; gaps are allowed).
    // Returns nullptr, creating nothing, for an index that is in use or < 1.
    Winsock *load(int index);

signals:
    void connectionRequested(int index, qintptr requestId);
    void dataArrived(int index, qint64 bytesTotal);
    void sendProgressed(int index, qint64 bytesSent, qint64 bytesRemaining);
    void sendCompleted(int index);
    void peerClosed(int index);
    void errorOccurred(int index, int number, const QString &description);

private:
    void wire(int index, Winsock *socket);

    std::vector<Winsock *> m_elements; // nullptr in gaps
};
