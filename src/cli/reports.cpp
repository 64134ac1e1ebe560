#include "cli/reports.h"

#include "cli/bytestext.h"
#include "cli/conventions.h"
#include "cli/transcript.h"

#include <QFileInfo>

#include <QDateTime>
#include <QSaveFile>
#include <QXmlStreamWriter>

namespace {

using Result = TestOutcome::Result;

// Control characters have no place in XML 1.0, nor a line break in a TAP test line.
QString Printable(const QString& text, bool keepLineBreaks = false)
{
    QString out;
    for (QChar c : text) {
        if ((c.unicode() < 0x20 || c.unicode() == 0x7F) && !(keepLineBreaks && c == u'\n'))
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

QString ReceivedText(const TestOutcome& outcome, bool full)
{
    if (outcome.received.isEmpty())
        return QStringLiteral("nothing");
    return QString::fromLatin1(BytesText(outcome.received, full, outcome.offset));
}

int CountOf(const std::vector<TestOutcome>& outcomes, Result result)
{
    return int(std::count_if(outcomes.begin(), outcomes.end(),
                             [result](const TestOutcome& o) { return o.result == result; }));
}

QString Seconds(qint64 nanoseconds)
{
    return QString::number(double(nanoseconds) / 1e9, 'f', 3);
}

void WriteTestCase(QXmlStreamWriter& xml, const QString& suite, const TestOutcome& outcome,
                   bool full)
{
    xml.writeStartElement(QStringLiteral("testcase"));
    xml.writeAttribute(QStringLiteral("classname"), Printable(suite));
    xml.writeAttribute(QStringLiteral("name"), Printable(outcome.name));
    xml.writeAttribute(QStringLiteral("time"), Seconds(outcome.nanoseconds));
    if (outcome.result == Result::Skipped) {
        xml.writeEmptyElement(QStringLiteral("skipped"));
        xml.writeAttribute(QStringLiteral("message"), outcome.message);
    } else if (outcome.result != Result::Passed) {
        const bool error = outcome.result == Result::Unreachable;
        xml.writeStartElement(error ? QStringLiteral("error") : QStringLiteral("failure"));
        xml.writeAttribute(QStringLiteral("message"), Printable(outcome.message));
        xml.writeAttribute(QStringLiteral("type"),
                           error ? QStringLiteral("unreachable") : QStringLiteral("mismatch"));
        xml.writeCharacters(Printable(FailureDetails(outcome, full), true));
        xml.writeEndElement();
    }
    xml.writeEndElement();
}

QByteArray YamlQuoted(const QString& text)
{
    return '\'' + Printable(text).replace(u'\'', QStringLiteral("''")).toUtf8() + '\'';
}

} // namespace

QString FailureDetails(const TestOutcome& outcome, bool full)
{
    QString details = outcome.message;
    if (!outcome.request.isEmpty())
        details +=
            QStringLiteral("\nrequest: ") + QString::fromLatin1(BytesText(outcome.request, full));
    if (!outcome.expected.isEmpty())
        details += QStringLiteral("\nexpected: ") + outcome.expected;
    if (!outcome.expected.isEmpty() || !outcome.received.isEmpty())
        details += QStringLiteral("\nreceived: ") + ReceivedText(outcome, full);
    if (outcome.offset && !outcome.expected.isEmpty())
        details += QStringLiteral("\nfirst differing offset: %1").arg(*outcome.offset);
    return details;
}

bool WriteJUnitReport(const QString& path, const QString& suite,
                      const std::vector<TestOutcome>& outcomes, bool full, QString& why)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        why = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    qint64 total = 0;
    for (const TestOutcome& outcome : outcomes)
        total += outcome.nanoseconds;
    QXmlStreamWriter xml(&file);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("testsuites"));
    xml.writeStartElement(QStringLiteral("testsuite"));
    xml.writeAttribute(QStringLiteral("name"), Printable(suite));
    xml.writeAttribute(QStringLiteral("tests"), QString::number(outcomes.size()));
    xml.writeAttribute(QStringLiteral("failures"),
                       QString::number(CountOf(outcomes, Result::Failed)));
    xml.writeAttribute(QStringLiteral("errors"),
                       QString::number(CountOf(outcomes, Result::Unreachable)));
    xml.writeAttribute(QStringLiteral("skipped"),
                       QString::number(CountOf(outcomes, Result::Skipped)));
    xml.writeAttribute(QStringLiteral("time"), Seconds(total));
    xml.writeAttribute(QStringLiteral("timestamp"),
                       QDateTime::currentDateTime().toString(Qt::ISODate));
    for (const TestOutcome& outcome : outcomes)
        WriteTestCase(xml, suite, outcome, full);
    xml.writeEndDocument();
    if (xml.hasError() || !file.commit()) {
        why = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

QByteArray TapReport(const std::vector<TestOutcome>& outcomes, bool full)
{
    QByteArray tap = "TAP version 13\n1.." + QByteArray::number(qsizetype(outcomes.size())) + '\n';
    int number = 0;
    for (const TestOutcome& outcome : outcomes) {
        const QByteArray name =
            Printable(outcome.name).replace(u'#', QStringLiteral("\\#")).toUtf8();
        const bool ok = outcome.result == Result::Passed || outcome.result == Result::Skipped;
        tap += (ok ? "ok " : "not ok ") + QByteArray::number(++number) + " - " + name;
        if (outcome.result == Result::Skipped) {
            tap += " # SKIP " + Printable(outcome.message).toUtf8() + '\n';
            continue;
        }
        tap += '\n';
        if (ok)
            continue;
        tap += "  ---\n  message: " + YamlQuoted(outcome.message) + '\n';
        if (!outcome.request.isEmpty())
            tap +=
                "  request: " + YamlQuoted(QString::fromLatin1(BytesText(outcome.request, full))) +
                '\n';
        if (!outcome.expected.isEmpty()) {
            tap += "  expected: " + YamlQuoted(outcome.expected) + '\n';
            tap += "  received: " + YamlQuoted(ReceivedText(outcome, full)) + '\n';
            tap += "  offset: " + QByteArray::number(outcome.offset.value_or(0)) + '\n';
        }
        tap += "  ...\n";
    }
    return tap;
}

QByteArray PlainReport(const std::vector<TestOutcome>& outcomes, bool full)
{
    QByteArray text;
    for (const TestOutcome& outcome : outcomes) {
        const QString ms = MillisecondsText(outcome.nanoseconds);
        if (outcome.result == Result::Passed)
            text += "PASS " + outcome.name.toUtf8() + " (" + ms.toUtf8() + " ms)\n";
        else if (outcome.result == Result::Skipped)
            text += "SKIP " + outcome.name.toUtf8() + ": " + outcome.message.toUtf8() + '\n';
        else
            text += "FAIL " + outcome.name.toUtf8() + ": " +
                    FailureDetails(outcome, full).replace(u'\n', QStringLiteral("\n  ")).toUtf8() +
                    '\n';
    }
    text += QByteArray::number(CountOf(outcomes, Result::Passed)) + " passed, " +
            QByteArray::number(qsizetype(outcomes.size()) - CountOf(outcomes, Result::Passed) -
                               CountOf(outcomes, Result::Skipped)) +
            " failed";
    if (const int skipped = CountOf(outcomes, Result::Skipped))
        text += ", " + QByteArray::number(skipped) + " skipped";
    return text + '\n';
}

int StatusOf(const std::vector<TestOutcome>& outcomes)
{
    int status = kPassed;
    for (const TestOutcome& outcome : outcomes) {
        if (outcome.result == TestOutcome::Result::Unreachable)
            status = kUnreachable;
        else if (outcome.result == TestOutcome::Result::Failed && status == kPassed)
            status = kFailed;
    }
    return status;
}

// A report that could not be written is found out before anything is sent.
bool ReportCanBeWritten(const QString& path, CliFailure& failure)
{
    const QFileInfo folder(QFileInfo(path).absolutePath());
    if (folder.isDir() && folder.isWritable())
        return true;
    failure = {
        kWrongInput,
        QStringLiteral("--junit %1: the folder %2 cannot be written").arg(path, folder.filePath())};
    return false;
}
