#include "CommandDocs.h"

#include "cli/CommandLine.h"
#include "cli/CommandTable.h"

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
        if (!QStringList{"from", "output", "game-dir", "map"}.contains(option))
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
            : command.name == std::string_view("rcon") ? QStringLiteral("_quorvex_console")
            : command.name == std::string_view("kick") ? QStringLiteral("_quorvex_players")
                                                       : QStringLiteral("true");
        cases << QStringLiteral("    %1) _quorvex_options \"%2\" || %3 ;;")
                     .arg(QLatin1String(command.name), options.join(u' '), arguments);
    }
    return QStringLiteral(
               "# bash completion for quorvex-config-creator, made from its table of commands\n"
               "# Names one a line, so that a name with spaces stays one word.\n"
               "_quorvex_files() {\n"
               "    local IFS=$'\\n'\n"
               "    compopt -o filenames 2>/dev/null\n"
               "    COMPREPLY=($(compgen -f -- \"$cur\"))\n"
               "}\n"
               "_quorvex_folders() {\n"
               "    local IFS=$'\\n'\n"
               "    compopt -o filenames 2>/dev/null\n"
               "    COMPREPLY=($(compgen -d -- \"$cur\"))\n"
               "}\n"
               "_quorvex_commands() { COMPREPLY=($(compgen -W \"%1\" -- \"$cur\")); }\n"
               "# The game directory given on the line, as dir.\n"
               "_quorvex_dir() {\n"
               "    local i\n"
               "    dir=\n"
               "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
               "        case ${COMP_WORDS[i]} in\n"
               "        --game-dir)\n"
               "            [[ ${COMP_WORDS[i+1]} == = ]] && ((i++))\n"
               "            dir=${COMP_WORDS[i+1]} ;;\n"
               "        --game-dir=*) dir=${COMP_WORDS[i]#*=} ;;\n"
               "        esac\n"
               "    done\n"
               "    # The folder as typed, its quotes and escapes undone where it runs nothing.\n"
               "    [[ $dir == *[\\$\\`\\(\\;\\|\\&\\<\\>]* ]] || eval \"dir=$dir\" 2>/dev/null\n"
               "}\n"
               "# The maps of the game directory given on the line, else of the saved one.\n"
               "_quorvex_maps() {\n"
               "    local IFS=$'\\n' dir line names=\n"
               "    _quorvex_dir\n"
               "    while read -r line; do\n"
               "        names+=${line%%  *}$'\\n'\n"
               "    done < <(\"$program\" maps ${dir:+\"--game-dir=$dir\"} 2>/dev/null)\n"
               "    COMPREPLY=($(compgen -W \"$names\" -- \"$cur\"))\n"
               "}\n"
               "# The slots and names of the players on the server of the game directory given,\n"
               "# else on the only one running.\n"
               "_quorvex_players() {\n"
               "    local IFS=$'\\n' dir line names=\n"
               "    _quorvex_dir\n"
               "    compopt -o filenames 2>/dev/null\n"
               "    while read -r line; do\n"
               "        [[ $line =~ ^\\ *([0-9]+)\\ \\ (.*)\\ \\ score\\  ]] &&\n"
               "            names+=${BASH_REMATCH[1]}$'\\n'${BASH_REMATCH[2]}$'\\n'\n"
               "    done < <(\"$program\" players ${dir:+\"--game-dir=$dir\"} 2>/dev/null)\n"
               "    COMPREPLY=($(compgen -W \"$names\" -- \"$cur\"))\n"
               "}\n"
               "# The map of a console command that loads one.\n"
               "_quorvex_console() {\n"
               "    case ${prev,,} in map|devmap|spmap|spdevmap) _quorvex_maps ;; esac\n"
               "}\n"
               "# Options when the word starts with a dash, else false.\n"
               "_quorvex_options() {\n"
               "    [[ $cur == -* ]] || return 1\n"
               "    COMPREPLY=($(compgen -W \"$1\" -- \"$cur\"))\n"
               "}\n"
               "_quorvex_config_creator() {\n"
               "    local program=$1 cur=${COMP_WORDS[COMP_CWORD]} "
               "prev=${COMP_WORDS[COMP_CWORD-1]}\n"
               "    local command= prefix= i\n"
               "    COMPREPLY=()\n"
               "    # bash splits --option=value at the = when = breaks words, as it does unless\n"
               "    # told otherwise; then the value completes after the option and its =.\n"
               "    if [[ $cur == = ]]; then\n"
               "        cur=\n"
               "    elif [[ $prev == = ]]; then\n"
               "        prev=${COMP_WORDS[COMP_CWORD-2]}\n"
               "    elif [[ $cur == --*=* ]]; then\n"
               "        prev=${cur%%=*} prefix=${cur%%=*}= cur=${cur#*=}\n"
               "    fi\n"
               "    case $prev in\n"
               "    --from|--output) _quorvex_files ;;\n"
               "    --game-dir) _quorvex_folders ;;\n"
               "    --map) _quorvex_maps ;;\n"
               "    %2) ;;\n"
               "    *)\n"
               "        for ((i = 1; i < COMP_CWORD; i++)); do\n"
               "            case ${COMP_WORDS[i]} in\n"
               "            %4) [[ ${COMP_WORDS[i+1]} == = ]] && ((i++)); ((i++)) ;;\n"
               "            -*|=) ;;\n"
               "            *) command=${COMP_WORDS[i]}; break ;;\n"
               "            esac\n"
               "        done\n"
               "        case $command in\n"
               "        '') _quorvex_options \"--help --version\" || _quorvex_commands ;;\n"
               "    %3\n"
               "        esac ;;\n"
               "    esac\n"
               "    [[ -z $prefix ]] || COMPREPLY=(\"${COMPREPLY[@]/#/$prefix}\")\n"
               "}\n"
               "complete -F _quorvex_config_creator quorvex-config-creator\n")
        .arg(words.join(u' '), valued.join(u'|'), cases.join(QStringLiteral("\n    ")),
             withValues.join(u'|'));
}

namespace {

// Text as roff lines, its dashes ASCII ones to copy: a line that starts with a dot or quote
// would be read as a request.
QString roff(const QString& text)
{
    QString lines;
    for (QString line : text.split(u'\n')) {
        line.replace(u'\\', QStringLiteral("\\e")).replace(u'-', QStringLiteral("\\-"));
        lines +=
            (line.startsWith(u'.') || line.startsWith(u'\'') ? QStringLiteral("\\&") : QString()) +
            line + u'\n';
    }
    return lines;
}

} // namespace

QString manualCommands()
{
    QString section = QStringLiteral("[COMMANDS]\n");
    for (const CommandSpec& command : commands())
        section += QStringLiteral(".SS %1\n.nf\n").arg(QLatin1String(command.name)) +
                   roff(commandHelp(command)) + QStringLiteral(".fi\n");
    // help2man fills the examples into one paragraph, so they are given as they stand.
    const QStringList ending = helpEnding();
    section += QStringLiteral("[=EXAMPLES]\n.nf\n") + roff(ending[0]) + QStringLiteral(".fi\n");
    for (const QString& paragraph : ending.mid(1))
        section += QStringLiteral(".PP\n") + roff(paragraph);
    return section;
}
