# Bash completion for tarvel: its options, the .wmv, .asf and .vc1 files (and folders) it
# reads and writes, any file name after --timestamps and --plot (with "=" or as the next
# argument), the levels after
# --verbose, and only file names after "--", which ends the options. Installed as
# share/bash-completion/completions/tarvel, where the bash-completion package loads it on
# first use; it calls none of that package's functions.

_tarvel() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  local prev=
  if ((COMP_CWORD > 0)); then prev=${COMP_WORDS[COMP_CWORD - 1]}; fi
  COMPREPLY=()

  # A value as the next argument: "--verbose 3", "--stream 2" or "-s 2", "--timestamps FILE",
  # "--plot FILE".
  if [[ $cur != = ]]; then
    case $prev in
      --verbose) mapfile -t COMPREPLY < <(compgen -W "0 1 2 3" -- "$cur"); return ;;
      --stream | -s) return ;;
      --timestamps | --plot) compopt -o filenames 2>/dev/null; mapfile -t COMPREPLY < <(compgen -f -- "$cur"); return ;;
    esac
  fi
  local i options_ended=
  for ((i = 1; i < COMP_CWORD; i++)); do [[ ${COMP_WORDS[i]} == -- ]] && options_ended=1; done

  # Bash splits "--verbose=2" at the "=" when "=" is a word break: complete the level.
  if [[ $cur == = && $prev == --verbose ]]; then
    COMPREPLY=(0 1 2 3)
    return
  fi
  if [[ $prev == = ]] && ((COMP_CWORD > 1)) && [[ ${COMP_WORDS[COMP_CWORD - 2]} == --verbose ]]; then
    mapfile -t COMPREPLY < <(compgen -W "0 1 2 3" -- "$cur")
    return
  fi

  # "--stream=N" and "-sN" take the stream number right after them: no space.
  if [[ $cur == = && $prev == --stream ]] ||
     { [[ $prev == = ]] && ((COMP_CWORD > 1)) && [[ ${COMP_WORDS[COMP_CWORD - 2]} == --stream ]]; }; then
    return
  fi

  # "--timestamps=FILE" and "--plot=FILE" take any file name (and folders on the way to it).
  if [[ $cur == = && ($prev == --timestamps || $prev == --plot) ]]; then
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "")
    return
  fi
  if [[ $prev == = ]] && ((COMP_CWORD > 1)) &&
     [[ ${COMP_WORDS[COMP_CWORD - 2]} == --timestamps || ${COMP_WORDS[COMP_CWORD - 2]} == --plot ]]; then
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    return
  fi
  if [[ $cur == --timestamps=* || $cur == --plot=* ]]; then  # "=" is not a word break here
    local option=${cur%%=*}=
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -P "$option" -f -- "${cur#*=}")
    return
  fi

  if [[ $cur == -* && -z $options_ended ]]; then
    local options=(-h --help -npar --no-par -nfrm --no-framerate
                   -nseq --no-repeat-sequence-header -s --stream= -v0 -v1 -v2 -v3
                   --verbose=0 --verbose=1 --verbose=2 --verbose=3 --verbose -y --yes --version --timestamps=
                   --timestamps --stream --json --plot= --plot --)
    mapfile -t COMPREPLY < <(compgen -W "${options[*]}" -- "$cur")
    if ((${#COMPREPLY[@]} == 1)) && [[ ${COMPREPLY[0]} == -s || ${COMPREPLY[0]} == *= ]]; then
      compopt -o nospace 2>/dev/null
    fi
    return
  fi

  compopt -o filenames 2>/dev/null
  mapfile -t COMPREPLY < <(compgen -d -- "$cur"
                           compgen -f -X '!*.[wW][mM][vV]' -- "$cur"
                           compgen -f -X '!*.[aA][sS][fF]' -- "$cur"
                           compgen -f -X '!*.[vV][cC]1' -- "$cur")
}
complete -F _tarvel tarvel
