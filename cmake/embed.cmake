# Writes INPUT into OUTPUT, a C++ source that defines NAME as its bytes and a
# terminating NUL: run at build time (cmake -P), so that editing INPUT
# rebuilds one object, whatever bytes INPUT holds. Each file of PIECES, when
# given, takes the place of its marker in INPUT, its name as a comment
# (/*name*/), which must stand there exactly once; the file's last line break
# is dropped, so that the marker's own line ends it. MARKER, when given, must
# stand exactly once in the text so made: the program splits the text there.

# Fails the build unless `marker` stands exactly once in the variable named
# `var`, said to be `where`.
function(require_once var marker where)
  string(FIND "${${var}}" "${marker}" first)
  string(FIND "${${var}}" "${marker}" last REVERSE)
  if(first EQUAL -1 OR NOT first EQUAL last)
    message(FATAL_ERROR "${where}: '${marker}' must stand in it exactly once")
  endif()
endfunction()

file(READ ${INPUT} text)
foreach(piece IN LISTS PIECES)
  get_filename_component(name ${piece} NAME)
  # Counted in the text so far, so that a piece already put in which names
  # another piece's marker fails here rather than put that piece in twice.
  require_once(text "/*${name}*/" "${INPUT}, where ${piece} goes")
  file(READ ${piece} piece_text)
  string(REGEX REPLACE "\n$" "" piece_text "${piece_text}")
  string(REPLACE "/*${name}*/" "${piece_text}" text "${text}")
endforeach()
if(DEFINED MARKER)
  require_once(text "${MARKER}" "${INPUT} with its pieces put in")
endif()
string(HEX "${text}" hex)
string(REGEX REPLACE "(..)" "'\\\\x\\1'," bytes "${hex}")
# Sixteen bytes a line; CMake's expressions know no {16}.
string(REPEAT "[^,]*," 16 line)
string(REGEX REPLACE "(${line})" "\\1\n" bytes "${bytes}")
file(WRITE ${OUTPUT} "// Made from ${INPUT} and its pieces when building.\nextern const char ${NAME}[];\nconst char ${NAME}[] = {\n${bytes}'\\0'};\n")
