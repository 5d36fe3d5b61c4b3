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

QByteArray ServerConsole::withoutEchoes(QByteArray text)
{
    static const QRegularExpression late(
        QStringLiteral("^(?:Rcon from [^\n]*: echo )?%1[0-9a-f]{16}\n")
            .arg(QLatin1String(kTokenStart)),
        QRegularExpression::MultilineOption);
    return QString::fromLatin1(text).remove(late).toLatin1();
}
