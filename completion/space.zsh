#compdef space
# Zsh completion for space: the option letters, the -c forms, and
# directories for the start path.
#
# -? is not offered: unquoted, the shell may expand it as a file pattern.

case $PREFIX in
  -c*) compadd -- '-c#' -c. -c@ -c0 -c512 -c1024 -c4096 -c8192 -c65536 ;;
  -*) compadd -- -b -C -f -g -h -n -p -s -t -k '-c#' -c. -c@ -c0 ;;
  *) _files -/ ;;
esac
