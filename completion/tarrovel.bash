# Bash completion of tarrovel(1): commands, options, the items `tarrovel menu`
# offers (titles and command IDs), and paths.

# The items offered for the paths given (the current folder when none is), as
# lines: every title, then every command ID. Separators and submenu titles
# cannot be chosen, so they are left out.
_tarrovel_items() {
  local json
  json="$("${1:-tarrovel}" menu --json -- "${@:2}" 2>/dev/null)" || return 0
  # One item a line, each {"title": "...", "command": N...}; a submenu entry has no command.
  local line title command titles=() commands=()
  while IFS= read -r line; do
    [[ $line =~ \"title\":\ \"((\\.|[^\"\\])*)\",\ \"command\":\ ([0-9]+) ]] || continue
    title="${BASH_REMATCH[1]}"
    command="${BASH_REMATCH[3]}"
    [ "$command" = 0 ] && continue
    title="${title//\\\"/\"}"
    title="${title//\\\\/\\}"
    titles+=("$title")
    commands+=("$command")
  done < <(printf '%s\n' "$json" | sed 's/{/\n{/g')
  [ ${#titles[@]} -gt 0 ] && printf '%s\n' "${titles[@]}" "${commands[@]}"
}

_tarrovel() {
  local cur="${COMP_WORDS[COMP_CWORD]}" cmd="" i word
  COMPREPLY=()
  if [ "$COMP_CWORD" -eq 1 ]; then
    mapfile -t COMPREPLY < <(compgen -W 'menu run install uninstall --help --version' -- "$cur")
    return 0
  fi
  cmd="${COMP_WORDS[1]}"
  # Where the options end: after "--", at the first PATH (menu) or at ITEM (run).
  local optionsOver=0 item=""
  for ((i = 2; i < COMP_CWORD; i++)); do
    word="${COMP_WORDS[i]}"
    if [ "$optionsOver" = 0 ] && [ "$word" = "--" ]; then
      optionsOver=1
    elif [ "$optionsOver" = 0 ] && [[ $word == -* ]]; then
      :
    else
      optionsOver=1
      [ "$cmd" = run ] && [ -z "$item" ] && item="$word"
    fi
  done
  case "$cmd" in
    install | uninstall)
      mapfile -t COMPREPLY < <(compgen -W '--user' -- "$cur")
      return 0
      ;;
    menu | run) ;;
    *) return 0 ;;
  esac
  if [ "$optionsOver" = 0 ] && [[ $cur == -* ]]; then
    local options='--json --'
    [ "$cmd" = run ] && options='--yes -v --gui --'
    mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
    return 0
  fi
  if [ "$cmd" = run ] && [ -z "$item" ]; then
    # The items offered for the paths already typed after this word, or for
    # the current folder. Words are unquoted by hand: nothing typed is evaluated.
    local -a paths=()
    for ((i = COMP_CWORD + 1; i < ${#COMP_WORDS[@]}; i++)); do
      word="${COMP_WORDS[i]}"
      word="${word#[\"\']}" word="${word%[\"\']}"
      [[ $word == "~/"* ]] && word="$HOME/${word#"~/"}"
      [ -n "$word" ] && paths+=("${word//\\/}")
    done
    [ ${#paths[@]} -eq 0 ] && paths=(.)
    local prefix="$cur" quoted=""
    case "$cur" in
      \"* | \'*) quoted="${cur:0:1}" prefix="${cur:1}" ;;
      *) prefix="${cur//\\/}" ;;
    esac
    local candidate
    while IFS= read -r candidate; do
      [[ $candidate == "$prefix"* ]] || continue
      if [ -n "$quoted" ]; then
        COMPREPLY+=("$quoted$candidate$quoted")
      else
        COMPREPLY+=("$(printf '%q' "$candidate")")
      fi
    done < <(_tarrovel_items "${COMP_WORDS[0]}" "${paths[@]}")
    return 0
  fi
  if declare -F _filedir >/dev/null; then
    _filedir
  else
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
  fi
}
complete -F _tarrovel tarrovel
