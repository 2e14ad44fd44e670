# Writes INPUT into OUTPUT, a C++ source that defines NAME as its bytes and a
# terminating NUL: run at build time (cmake -P), so that editing INPUT
# rebuilds one object, whatever bytes INPUT holds. MARKER, when given, must
# stand in INPUT exactly once: the program splits the text there.
file(READ ${INPUT} text)
if(DEFINED MARKER)
  string(FIND "${text}" "${MARKER}" first)
  string(FIND "${text}" "${MARKER}" last REVERSE)
  if(first EQUAL -1 OR NOT first EQUAL last)
    message(FATAL_ERROR "${INPUT}: '${MARKER}' must stand in it exactly once")
  endif()
endif()
file(READ ${INPUT} hex HEX)
string(REGEX REPLACE "(..)" "'\\\\x\\1'," bytes "${hex}")
string(REGEX REPLACE "(([^,]*,){16})" "\\1\n" bytes "${bytes}")
file(WRITE ${OUTPUT} "// Made from ${INPUT} when building.\nextern const char ${NAME}[];\nconst char ${NAME}[] = {\n${bytes}'\\0'};\n")
