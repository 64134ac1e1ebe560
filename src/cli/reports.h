#pragma once

#include "cli/scriptrunner.h"

#include <QByteArray>
#include <QString>

#include <vector>

struct CliFailure;

// The exit status of a run of tests: 3 when a target was not reached, else 1 when one failed.
int StatusOf(const std::vector<TestOutcome>& outcomes);

// Whether a report can be written at `path`, found out before anything is sent; otherwise the
// status-2 failure that names the folder.
bool ReportCanBeWritten(const QString& path, CliFailure& failure);

// What a failed test expected, what came and where they part, one item a line; long bytes
// shortened unless `full`.
QString FailureDetails(const TestOutcome& outcome, bool full);

// The JUnit XML report CI systems read: one testcase per test; a failed expectation is a
// failure, an unreachable target an error, a test not run skipped. False, with why, when the
// file cannot be written.
bool WriteJUnitReport(const QString& path, const QString& suite,
                      const std::vector<TestOutcome>& outcomes, bool full, QString& why);

// TAP version 13, with a YAML block for each test that did not pass.
QByteArray TapReport(const std::vector<TestOutcome>& outcomes, bool full);

// "PASS name (n ms)" or "FAIL name: why" and its details per test, then the closing count line
// "N passed, N failed" (", N skipped" when any were).
QByteArray PlainReport(const std::vector<TestOutcome>& outcomes, bool full);
