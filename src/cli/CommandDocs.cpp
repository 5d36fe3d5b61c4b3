#include "CommandDocs.h"

#include "CommandLine.h"
#include "CommandTable.h"

#include <QStringList>
#include <string_view>

QString bashCompletion()
{
    // The options whose values complete as nothing, and all that take a value.
    QStringList valued;
    QStringList withValues;
    for (const QString& option : optionNames()) {
        if (!valueNameOf(option))
            continue;
        withValues << QStringLiteral("--") + option;
        if (option != u"from" && option != u"output" && option != u"game-dir")
            valued << QStringLiteral("--") + option;
    }
    QStringList words;
    QStringList cases;
    for (const CommandSpec& command : commands()) {
        words << QLatin1String(command.name);
        QStringList options{QStringLiteral("--help")};
        for (const OptionUse& option : command.options)
            options << QStringLiteral("--") + QLatin1String(option.name);
        const QString arguments =
            command.name == std::string_view("show")   ? QStringLiteral("_quorvex_files")
            : command.name == std::string_view("help") ? QStringLiteral("_quorvex_commands")
                                                       : QStringLiteral("true");
        cases << QStringLiteral("    %1) _quorvex_options \"%2\" || %3 ;;")
                     .arg(QLatin1String(command.name), options.join(u' '), arguments);
    }
    return QStringLiteral(
               "# bash completion for quorvex-config-creator, made from its table of commands\n"
               "_quorvex_files() { compopt -o filenames 2>/dev/null; COMPREPLY=($(compgen -f -- "
               "\"$cur\")); }\n"
               "_quorvex_folders() { compopt -o filenames 2>/dev/null; COMPREPLY=($(compgen -d "
               "-- \"$cur\")); }\n"
               "_quorvex_commands() { COMPREPLY=($(compgen -W \"%1\" -- \"$cur\")); }\n"
               "# Options when the word starts with a dash, else false.\n"
               "_quorvex_options() {\n"
               "    [[ $cur == -* ]] || return 1\n"
               "    COMPREPLY=($(compgen -W \"$1\" -- \"$cur\"))\n"
               "}\n"
               "_quorvex_config_creator() {\n"
               "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
               "    local command= i\n"
               "    COMPREPLY=()\n"
               "    case $prev in\n"
               "    --from|--output) _quorvex_files; return ;;\n"
               "    --game-dir) _quorvex_folders; return ;;\n"
               "    %2) return ;;\n"
               "    esac\n"
               "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
               "        case ${COMP_WORDS[i]} in\n"
               "        %4) ((i++)) ;;\n"
               "        -*) ;;\n"
               "        *) command=${COMP_WORDS[i]}; break ;;\n"
               "        esac\n"
               "    done\n"
               "    case $command in\n"
               "    '') _quorvex_options \"--help --version\" || _quorvex_commands ;;\n"
               "%3\n"
               "    esac\n"
               "}\n"
               "complete -F _quorvex_config_creator quorvex-config-creator\n")
        .arg(words.join(u' '), valued.join(u'|'), cases.join(u'\n'), withValues.join(u'|'));
}

QString manualCommands()
{
    QString section = QStringLiteral("[COMMANDS]\n");
    for (const CommandSpec& command : commands()) {
        section += QStringLiteral(".SS %1\n.nf\n").arg(QLatin1String(command.name));
        for (QString line : commandHelp(command).split(u'\n')) {
            // A roff line that starts with a dot or quote would be read as a request.
            line.replace(u'\\', QStringLiteral("\\e"));
            section += (line.startsWith(u'.') || line.startsWith(u'\'') ? QStringLiteral("\\&")
                                                                        : QString()) +
                       line + u'\n';
        }
        section += QStringLiteral(".fi\n");
    }
    return section;
}
