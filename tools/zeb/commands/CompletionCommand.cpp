// zeb completion: a bash completion script for zeb's commands, options, feature and assistant
// names. Feature names are asked from the plug-in (zeb features --names) the first time they are
// completed, so they always match the plug-in in use.
#include "commands/Commands.h"

#include "commands/CommandLine.h"
#include "runs/AssistantRunner.h"

#include <cstdio>

namespace zeb::cli {

void CompletionCommand::Define(CLI::App& parent) {
    _app = parent.add_subcommand("completion", "print a bash completion script (source it, or put it in "
                                               "~/.local/share/bash-completion/completions/zeb)");
}

namespace {
std::string Options(const CLI::App& app) {
    std::string words;
    for (const CLI::Option* option : app.get_options()) {
        for (const std::string& name : option->get_lnames())
            words += " --" + name;
        for (const std::string& name : option->get_snames())
            words += " -" + name;
    }
    return words.empty() ? words : words.substr(1);
}

std::string ValueOptions(const CLI::App& app) {
    std::string words;
    for (const CLI::Option* option : app.get_options())
        if (option->get_type_size() != 0 && option->nonpositional())
            for (const std::string& name : option->get_lnames())
                words += "|--" + name;
    return words;
}
} // namespace

int CompletionCommand::Run(Session&) {
    CommandLine line(CommandLine::Mode::Program);
    CLI::App& app = line.App();
    std::string commands, cases, valueOptions = "--station|--plugin";
    for (CLI::App* command : app.get_subcommands({})) {
        commands += (commands.empty() ? "" : " ") + command->get_name();
        std::string options = Options(*command);
        for (CLI::App* sub : command->get_subcommands({}))
            options += " " + sub->get_name() + " " + Options(*sub);
        cases += "        " + command->get_name() + ") options=\"" + options + "\" ;;\n";
        valueOptions += ValueOptions(*command);
        for (CLI::App* sub : command->get_subcommands({}))
            valueOptions += ValueOptions(*sub);
    }
    std::string assistants;
    for (const auto& names : AssistantNames::ShortNames())
        assistants += (assistants.empty() ? "" : " ") + names.first;

    std::printf(R"BASH(# bash completion for zeb: commands, options, feature and assistant names.
# Made by "zeb completion"; source it, or install it as ~/.local/share/bash-completion/completions/zeb.
_zeb_features() {
    if [[ -z ${_zeb_feature_names-} ]]; then
        _zeb_feature_names=$("$1" features --names 2>/dev/null | tr -d '\r')
    fi
    printf '%%s' "$_zeb_feature_names"
}

# The values an enumeration offers, one a line ("90 deg" is one value).
_zeb_choices() {
    "$1" get "$2" --choices 2>/dev/null | tr -d '\r'
}

# COMPREPLY: the lines of $1 that start with $2, quoted for the command line, each after $3.
_zeb_reply_lines() {
    local IFS=$'\n' line quoted
    COMPREPLY=()
    for line in $1; do
        [[ $line == "$2"* ]] || continue
        printf -v quoted '%%q' "$line"
        COMPREPLY+=("$3$quoted")
    done
}

_zeb() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    local command="" i options
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
            %s) ((i++)) ;;
            -*) ;;
            *) command=${COMP_WORDS[i]}; break ;;
        esac
    done
    # --set NAME=VALUE: the values of NAME, whether or not bash splits the word at "=".
    if [[ $prev == --set && $cur == *=* ]]; then
        _zeb_reply_lines "$(_zeb_choices "${COMP_WORDS[0]}" "${cur%%%%=*}")" "${cur#*=}" "${cur%%%%=*}="
        return
    fi
    if ((COMP_CWORD >= 3)) && [[ $prev == = && ${COMP_WORDS[COMP_CWORD-3]} == --set ]]; then
        _zeb_reply_lines "$(_zeb_choices "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD-2]}")" "$cur" ""
        return
    fi
    if ((COMP_CWORD >= 2)) && [[ $cur == = && ${COMP_WORDS[COMP_CWORD-2]} == --set ]]; then
        _zeb_reply_lines "$(_zeb_choices "${COMP_WORDS[0]}" "$prev")" "" ""
        return
    fi
    case $prev in
        --station|--plugin|--profile|--out|-o) COMPREPLY=($(compgen -f -- "$cur")); return ;;
        --channel|-c)
            COMPREPLY=($(compgen -W "$("${COMP_WORDS[0]}" channels 2>/dev/null | tr -d '\r' | cut -f1)" -- "$cur"))
            return ;;
        --setup-mode) COMPREPLY=($(compgen -W "Off On" -- "$cur")); return ;;
        --set)
            compopt -o nospace 2>/dev/null
            COMPREPLY=($(compgen -S = -W "$(_zeb_features "${COMP_WORDS[0]}")" -- "$cur")); return ;;
    esac
    if [[ -z $command ]]; then
        COMPREPLY=($(compgen -W "%s %s" -- "$cur"))
        return
    fi
    # set NAME VALUE: the values of NAME; profile save and load: a file.
    if [[ $command == set && $cur != -* ]] && ((COMP_CWORD >= 2)) && [[ ${COMP_WORDS[COMP_CWORD-2]} == set ]]; then
        _zeb_reply_lines "$(_zeb_choices "${COMP_WORDS[0]}" "$prev")" "$cur" ""
        return
    fi
    if [[ $command == profile && ( $prev == save || $prev == load ) ]]; then
        COMPREPLY=($(compgen -f -- "$cur"))
        return
    fi
    if [[ $prev == "$command" && $cur != -* ]]; then
        case $command in
            get|set|exec) COMPREPLY=($(compgen -W "$(_zeb_features "${COMP_WORDS[0]}")" -- "$cur")); return ;;
            assist) COMPREPLY=($(compgen -W "%s" -- "$cur")); return ;;
            help) COMPREPLY=($(compgen -W "%s" -- "$cur")); return ;;
        esac
    fi
    case $command in
%s        *) options="" ;;
    esac
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
}
complete -F _zeb zeb
)BASH",
                valueOptions.c_str(), commands.c_str(), Options(app).c_str(), assistants.c_str(),
                commands.c_str(), cases.c_str());
    return 0;
}

} // namespace zeb::cli
