#pragma once

#include <QCommandLineParser>
#include <QString>
#include <QStringList>
#include <optional>
#include <span>

// The command line as data: its commands, each with its options, arguments, help and
// example, read alike by the parser, the help, the suggestions, the manual page and the
// shell completion.

// What a command was given: its options' values and its arguments after its name.
struct Invocation {
    const QCommandLineParser& parser;
    QStringList arguments;

    bool isSet(const char* option) const { return parser.isSet(QLatin1String(option)); }
    QString value(const char* option) const { return parser.value(QLatin1String(option)); }
};

// An option as a command takes it. A setting's option, named by kSettingsFields, gets its
// description from its box when this one is empty.
struct OptionUse {
    const char* name;
    const char* description = "";
};

struct CommandSpec {
    const char* name;
    const char* arguments; // its arguments as the usage line names them, or ""
    const char* summary;   // one line for the list of commands
    const char* details;   // its own help's paragraphs
    std::span<const OptionUse> options;
    const char* example;
    int (*run)(const Invocation&);
};

std::span<const CommandSpec> commands();

const CommandSpec* findCommand(const QString& name);

// The option that a one-letter name stands for, or the name itself.
QString longNameOf(const QString& option);

// The one-letter name that also names the option, or nullptr.
const char* shortNameOf(const QString& option);

// The name of an option's value, or nullptr for a switch; every option the table uses, by
// either of its names.
const char* valueNameOf(const QString& option);

// Every option that any command takes, each once, in the table's order.
QStringList optionNames();

// The option's description in the command's help.
QString describedOption(const OptionUse& option);

// The command's usage line after the program's name, such as "show [--json] SCRIPT".
QString usageOf(const CommandSpec& command);
