#include "Output.h"

#include "CommandTable.h"
#include "Console.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

int& outputError()
{
    static int error = 0;
    return error;
}

void print(FILE* stream, const QString& text)
{
    if (!Console::write(stream, text + u'\n') && stream == stdout && outputError() == 0)
        outputError() = errno != 0 ? errno : EIO;
}

QString worded(const Problem& problem, const CommandSpec* command)
{
    // A setting that the command has no option for, such as the map that run reads from
    // the config file, is left for the text to name.
    const auto takes = [command](SettingsMember setting) {
        const char* option = settingsField(setting).option;
        return !command || std::ranges::any_of(command->options, [&](const OptionUse& use) {
            return std::strcmp(use.name, option) == 0;
        });
    };
    if (problem.setting && !takes(problem.setting)) {
        Problem unnamed = problem;
        unnamed.setting = nullptr;
        return worded(unnamed, command);
    }
    return worded(problem,
                  [](SettingsMember setting) {
                      return QStringLiteral("--") + QLatin1String(settingsField(setting).option);
                  },
                  {QLatin1String(), QLatin1String("Then give the run command again."),
                   QLatin1String("Then write the config with the create command and give the "
                                 "run command again."),
                   QLatin1String("To stop it and start the new one in its place, give run "
                                 "--replace.")});
}

int failed(const QStringList& problems)
{
    for (const QString& problem : problems)
        print(stderr, problem);
    return Failed;
}

int failed(const Problems& problems, const CommandSpec* command)
{
    QStringList texts;
    for (const Problem& problem : problems)
        texts << worded(problem, command);
    return failed(texts);
}

int usageError(const QString& error, const CommandSpec* command)
{
    const QString help = command ? QLatin1String(command->name) + QStringLiteral(" --help")
                                 : QStringLiteral("--help");
    print(stderr,
          QStringLiteral("%1: %2\nTry '%1 %3' for more information.").arg(kProgram, error, help));
    return Usage;
}
