// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/ppp/pppprocess.h"
#include "platform/ppp/procscan.h"
#include "platform/remoteaccess.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>

// The remote access service on Linux, in the NT record layout (platform family 2):
// - the phone book is a folder of pppd peer files, one entry per file, in name order;
// - a dial runs "pppd call ENTRY" (or "pppd file PATH" for another folder) with updetach, the
//   user name as an option and the password handed over a pipe to pppd's passwordfd plugin
//   (never on a command line or in a file), and suspends until pppd reports the link up or
//   exits, at most dialTimeoutMs;
// - the dial in progress is known by the process id of the pppd it started; hanging that up
//   ends that pppd (and the link it may have left by then) and the dial fails with 631;
// - a connection handle is the process id of the pppd that keeps the link; the service holds
//   each process it handed out, and hanging up sends SIGTERM, without waiting, to that very
//   process (never to a later one that reuses the number);
// - when pppd ends a dial with a failure, the last line it wrote (to its standard output, where
//   it logs until it detaches, or its standard error, where it reports wrong options) is kept
//   until the next dial, and the error text of that dial's code ends with it.
// Nothing is read at construction: the peers folder is read by the calls that need it.
class PppRemoteAccess : public RemoteAccess {
public:
    struct Options {
        // The default phone book.
        QString peersFolder = QStringLiteral("/etc/ppp/peers");
        // The folder pppd's own "call" option reads; entries of other folders are dialled with
        // "file PATH".
        QString pppdPeersFolder = QStringLiteral("/etc/ppp/peers");
        // Where pppd writes ppp-LINKNAME.pid.
        QString runFolder = QStringLiteral("/var/run");
        // Give pppd a linkname (a privileged option: only root may set it) and find the link
        // through its pid file; otherwise the link is found through /proc.
        bool useLinkname;
        // pppd treats "plugin" as a privileged option: only root may name the passwordfd plugin
        // on the command line. Anyone else needs it loaded by a privileged options file.
        bool asRoot;
        // The system-wide options file pppd reads before anything else.
        QString pppOptionsFile = QStringLiteral("/etc/ppp/options");
        // Folders searched for pppd after PATH (a user's PATH often lacks the sbin folders).
        QStringList pppdFolders = {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")};
        // How long a dial may take before its pppd is ended: a peer with "persist" and
        // "maxfail 0" never gives up on its own.
        int dialTimeoutMs = 120000;
        // How long to look for the link's process after pppd reported the link up.
        int findLinkTimeoutMs = 2000;
        // Called once when the link was not found in time, just before the last look for it.
        std::function<void()> beforeLastLook;

        Options();
    };

    // A pppd process that keeps a link for a phone-book entry.
    struct Link {
        procscan::Process process;
        QString entry;
    };

    PppRemoteAccess();
    explicit PppRemoteAccess(Options options);

    int GetVersionExA(unsigned char *versionInfo) override;
    quint32 RasEnumEntriesA(const char *reserved, const char *phoneBook, unsigned char *entries,
                            quint32 *size, quint32 *count) override;
    QCoro::Task<quint32> RasDialA(const void *extensions, const char *phoneBook,
                                  const unsigned char *dialParams, quint32 notifierType,
                                  const void *notifier, Handle *connection) override;
    quint32 RasHangUpA(Handle connection) override;
    quint32 RasGetErrorStringA(quint32 code, char *buffer, quint32 bufferSize) override;
    quint32 RasEnumConnectionsA(unsigned char *connections, quint32 *size, quint32 *count) override;

    // The entries of a peers folder; fails when the folder cannot be listed.
    static bool listEntries(const QString &folder, QStringList *entries);
    // The running pppd processes that keep links for entries, by process id.
    QList<Link> activeLinks() const;

private:
    struct Dial;

    static quint32 readDialParams(const unsigned char *params, Dial *dial);
    static quint32 codeForRun(const pppprocess::Run &run);
    QString peersFolderFor(const char *phoneBook) const;
    quint32 findPeer(const char *phoneBook, Dial *dial) const;
    quint32 passPassword(Dial *dial) const;
    QStringList pppdArguments(const Dial &dial) const;
    QCoro::Task<quint32> takeLink(const Dial &dial, Handle *connection, pppprocess::Stop *stop);
    procscan::Process findLink(const Dial &dial) const;
    Handle handOut(const procscan::Process &link);

    Options m_options;
    // The process behind each connection handle handed out.
    std::map<Handle, procscan::HeldPppd> m_handedOut;
    // The dials in progress, by the handle they were given: a request ends each.
    std::map<Handle, pppprocess::Stop *> m_dialing;
    // The code the last dial failed with, and pppd's last line then (empty: none).
    struct DialFailure {
        quint32 code = Success;
        QString message;
    };
    DialFailure m_lastDialFailure;
};

std::unique_ptr<RemoteAccess> makePppRemoteAccess();
