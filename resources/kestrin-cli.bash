# Bash completion of kestrin-cli: commands, options, and file names where a
# command or option takes one.
_kestrin_cli() {
  local cur prev words cword
  _init_completion || return
  local commands="disks show verify types dump backup restore apply create-partition create-logical
    delete-partition set-type set-boot set-disk-id make-first set-attributes set-attribute set-name resize
    create-disk delete-layout help"
  # The type names without blanks, as kestrin-cli lists them.
  _kestrin_cli_types() {
    COMPREPLY=($(compgen -W "$(kestrin-cli types 2>/dev/null | cut -f2 | grep -v ' ' | sort -u)" -- "$cur"))
  }
  case "$prev" in
    --disk | --backup)
      _filedir
      return
      ;;
    --sector-size)
      COMPREPLY=($(compgen -W "512 4096" -- "$cur"))
      return
      ;;
    --type)
      _kestrin_cli_types
      return
      ;;
    --offset | --size)
      return
      ;;
  esac
  local command="" i
  for ((i = 1; i < cword; i++)); do
    case "${words[i]}" in
      --disk | --sector-size | --backup | --offset | --size | --type) ((i++)) ;;
      -*) ;;
      *) command="${words[i]}"; break ;;
    esac
  done
  if [[ -z "$command" ]]; then
    if [[ "$cur" == -* ]]; then
      COMPREPLY=($(compgen -W "--disk --sector-size --json --yes --dry-run --help --version" -- "$cur"))
    else
      COMPREPLY=($(compgen -W "$commands" -- "$cur"))
    fi
    return
  fi
  case "$command" in
    backup | restore | apply)
      [[ "$cur" != -* ]] && _filedir
      ;;
    create-disk)
      COMPREPLY=($(compgen -W "mbr gpt raw" -- "$cur"))
      ;;
    types)
      COMPREPLY=($(compgen -W "mbr gpt" -- "$cur"))
      ;;
    set-type)
      [[ "$cur" != -* ]] && _kestrin_cli_types
      ;;
    set-attribute)
      COMPREPLY=($(compgen -W "required no-block-io legacy-bios-bootable read-only shadow-copy hidden
        no-drive-letter on off" -- "$cur"))
      ;;
    resize)
      COMPREPLY=($(compgen -W "max" -- "$cur"))
      ;;
    help)
      COMPREPLY=($(compgen -W "$commands" -- "$cur"))
      ;;
  esac
  if [[ "$cur" == -* ]]; then
    local options="--json --yes --help"
    case "$command" in
      create-partition) options+=" --offset --size --type --boot --force --backup --dry-run" ;;
      create-logical) options+=" --offset --size --type --backup --dry-run" ;;
      apply) options+=" --new-ids --backup --dry-run" ;;
      delete-partition | set-type | set-boot | set-disk-id | make-first | set-attributes | set-attribute | \
        set-name | resize | create-disk | delete-layout | restore) options+=" --backup --dry-run" ;;
    esac
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
  fi
}
complete -F _kestrin_cli kestrin-cli
