#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class Receiver;
class RulesSource;
class StandIn;
class TcpStandIn;
struct Arrival;
class PeerAddress;

// PEERTEST_RULES on a receiver, the window's or the unattended one: every arrival is answered by
// the rules file, on the receiver's own socket, in either mode, with the same lines in its list
// and log. Unset, nothing of this exists.
class ReceiverRules : public QObject {
    Q_OBJECT
public:
    using Show = std::function<void(const QString& line)>;

    // Null when PEERTEST_RULES is unset or blank. `show` adds a line to the receiver's list;
    // `hexDisplay` says how its bytes are shown.
    static std::unique_ptr<ReceiverRules> FromEnvironment(Receiver& receiver, Show show,
                                                          std::function<bool()> hexDisplay);
    ReceiverRules(const QString& path, Receiver& receiver, Show show,
                  std::function<bool()> hexDisplay);
    ~ReceiverRules() override;

    // Reads the rules; false, each reason shown as a "Rules Err: " line, when they cannot be used.
    bool Start();

    // "RULES: <name> <hits>, …, (none) <n>", for the line before the log's End line.
    QString SummaryLine() const;

private:
    void Connected(const PeerAddress& peer);
    void Arrived(const Arrival& arrival);
    void Left();

    Receiver& receiver_;
    Show show_;
    std::function<bool()> hexDisplay_;
    std::unique_ptr<RulesSource> source_;
    std::unique_ptr<StandIn> standIn_;
    std::unique_ptr<TcpStandIn> tcp_; // the TCP peer served now
};
