# Bash completion of tallyfold: the option words, the orders of -sort=, a
# file for -compare= and -load=, and folders for every word that is not an option.
# Installed as share/bash-completion/completions/tallyfold.

_tallyfold_options='-size= -cl= -threads= -dir -asper -asval -nowaste -nofiles -nooffline -nosubs
  -nototals -nostats -noheader -tab -comma -html -json -map -bars -utf8 -compare= -load= -exclude= -links -mounts -mft -mft= -top= -top -types -age -nav -c+ -c-
  -p -sort= -longest -? -config -support -vantor -tallyfold -manual -help -w -h --help -version
  --version'
_tallyfold_sort_orders='name local total waste files none growth age'

_tallyfold() {
  # The word up to the cursor, "=" included: bash splits words at "=" by
  # default, so COMP_WORDS would hold only the part after it.
  local line=${COMP_LINE:0:COMP_POINT}
  local word=${line##*[[:space:]]}
  local value=${word#*=}
  case ${word,,} in
    -sort=*) mapfile -t COMPREPLY < <(compgen -W "$_tallyfold_sort_orders" -- "${value,,}") ;;
    -compare=* | -load=*)
      compopt -o filenames 2> /dev/null
      mapfile -t COMPREPLY < <(compgen -f -- "$value")
      ;;
    *=*) COMPREPLY=() ;;  # a size, a count or a pattern: nothing to offer
    -*)
      mapfile -t COMPREPLY < <(compgen -W "$_tallyfold_options" -- "$word")
      # A word ending in "=" waits for its value.
      [[ ${#COMPREPLY[@]} -eq 1 && ${COMPREPLY[0]} == *= ]] && compopt -o nospace 2> /dev/null
      return 0
      ;;
    *)
      compopt -o filenames 2> /dev/null
      mapfile -t COMPREPLY < <(compgen -d -- "$word")
      ;;
  esac
  # Where "=" splits words, bash replaces only the part after it.
  if [[ $word == *=* && $COMP_WORDBREAKS != *=* ]]; then
    COMPREPLY=("${COMPREPLY[@]/#/${word%%=*}=}")
  fi
  return 0
}
complete -F _tallyfold tallyfold
