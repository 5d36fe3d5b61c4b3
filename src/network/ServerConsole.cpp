#include "ServerConsole.h"

#include <QRandomGenerator>
#include <QRegularExpression>

namespace {
constexpr char kTokenStart[] = "quorvex-end-";
}

QByteArray ServerConsole::endToken()
{
    return kTokenStart +
           QByteArray::number(QRandomGenerator::global()->generate64(), 16).rightJustified(16, '0');
}

QByteArray ServerConsole::asTheEngineReads(QByteArray command)
{
    for (char& c : command) {
        if (c == '%' || uchar(c) > 127)
            c = '.';
    }
    return command;
}

QByteArray ServerConsole::lineOf(const QStringList& words)
{
    QByteArrayList line;
    for (const QString& word : words) {
        const QByteArray bytes = word.toUtf8();
        const bool plain = !bytes.isEmpty() && !bytes.contains("//") && !bytes.contains("/*") &&
                           !bytes.contains(';') &&
                           std::none_of(bytes.begin(), bytes.end(),
                                        [](char c) { return uchar(c) <= ' ' || c == '"'; });
        line << (plain ? bytes : '"' + bytes + '"');
    }
    return line.join(' ');
}

QString ServerConsole::masked(QString text, const QStringList& secrets)
{
    for (const QString& secret : secrets)
        for (const char* end : {"\"", "^7\""})
            text.replace(u'"' + secret + QLatin1String(end), QStringLiteral("\"********\""));
    return text;
}

QByteArray ServerConsole::withoutEchoes(QByteArray text)
{
    static const QRegularExpression late(
        QStringLiteral("^(?:Rcon from [^\n]*: echo )?%1[0-9a-f]{16}\n")
            .arg(QLatin1String(kTokenStart)),
        QRegularExpression::MultilineOption);
    return QString::fromLatin1(text).remove(late).toLatin1();
}
