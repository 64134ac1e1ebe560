#pragma once

#include "rules/responder.h"

#include <QDeadlineTimer>
#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>

// A rules file in force while the program runs: read at start, then looked at again every
// second (and whenever the system says it changed), so an editor that writes a new file in the
// old one's place is noticed too. A change is read once the file has stood still for a moment;
// good rules go into the responder at once ("Rules: reloaded ..."), bad ones leave the rules in
// force and are told once ("Rules Err: " and each reason), not again until the file changes.
class RulesSource : public QObject {
    Q_OBJECT
public:
    // The file PEERTEST_RULES names; empty when it is unset or blank.
    static QString PathFromEnvironment();

    // `line` is told what happens to the file after Start: reloads and bad edits.
    RulesSource(const QString& path, std::function<void(const QString&)> line,
                QObject* parent = nullptr);
    ~RulesSource() override;

    // Reads the file; on success the responder exists and watching begins. Otherwise the errors,
    // each "FILE:LINE:COLUMN: reason", and nothing is watched.
    QStringList Start();

    // Valid after a successful Start, for as long as this object lives.
    Responder& TheResponder() { return *responder_; }
    QString Path() const { return path_; }

signals:
    // New rules are in force.
    void Reloaded();

private:
    struct Stamp;

    void Look();
    void ReadWhenSettled();
    void Reload();
    void Watch();

    QString path_;
    std::function<void(const QString&)> line_;
    std::unique_ptr<Responder> responder_;
    std::unique_ptr<Stamp> seen_;   // the file as last looked at
    QDeadlineTimer settleDeadline_; // a file that never stands still is read all the same then
    QTimer poll_;
    QTimer settle_;
    QFileSystemWatcher watcher_;
};
