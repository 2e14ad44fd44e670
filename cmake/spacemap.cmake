# spacemap, the companion program: where the space goes, sorted, exported,
# compared. It needs libraries that a machine with only a compiler and cmake
# lacks; without them `space` is still built, and configuring names the
# packages to install.
set(SPACE_PROGRAMS space)
set(spacemap_needs "")

# CLI11 reads its options; it is taken from where Debian puts it through a
# link of its own, so that a cross build sees it without the host's headers.
find_path(SPACE_CLI11_DIR CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH)
if(NOT SPACE_CLI11_DIR)
  list(APPEND spacemap_needs libcli11-dev)
endif()
# Compressed exports: zstd's and zlib's libraries. No builds of them come
# for MinGW: the Win32 build reads and writes plain exports only, and says
# so when asked for more.
if(NOT WIN32)
  find_package(ZLIB)
  find_path(SPACE_ZSTD_INCLUDE zstd.h)
  find_library(SPACE_ZSTD_LIBRARY zstd)
  if(NOT ZLIB_FOUND)
    list(APPEND spacemap_needs zlib1g-dev)
  endif()
  if(NOT SPACE_ZSTD_INCLUDE OR NOT SPACE_ZSTD_LIBRARY)
    list(APPEND spacemap_needs libzstd-dev)
  endif()
  # The browser's screen (on Win32, the console's own).
  set(CURSES_NEED_WIDE TRUE)
  find_package(Curses)
  if(NOT CURSES_FOUND)
    list(APPEND spacemap_needs libncurses-dev)
  endif()
endif()

if(spacemap_needs)
  list(JOIN spacemap_needs " " packages)
  message(STATUS "spacemap is not built: it needs apt-get install ${packages} (tools/install-deps installs all)")
  return()
endif()

list(APPEND SPACE_PROGRAMS spacemap)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/cli11)
file(CREATE_LINK ${SPACE_CLI11_DIR}/CLI ${CMAKE_BINARY_DIR}/cli11/CLI SYMBOLIC)
add_library(spacemap_core STATIC
  src/spacemap/age_filter.cc
  src/spacemap/browser.cc
  src/spacemap/diff.cc
  src/spacemap/diff_model.cc
  src/spacemap/duration.cc
  src/spacemap/entry_order.cc
  src/spacemap/exclude.cc
  src/spacemap/export_reader.cc
  src/spacemap/export_stream.cc
  src/spacemap/export_writer.cc
  src/spacemap/glob.cc
  src/spacemap/html_output.cc
  src/spacemap/interactive.cc
  src/spacemap/kinds.cc
  src/spacemap/largest.cc
  src/spacemap/list_views.cc
  src/spacemap/live_tree.cc
  src/spacemap/options.cc
  src/spacemap/replay.cc
  src/spacemap/scan.cc
  src/spacemap/tree.cc
  src/spacemap/types.cc
  src/spacemap/units.cc
  src/spacemap/view.cc
)
target_include_directories(spacemap_core PUBLIC src PRIVATE ${CMAKE_BINARY_DIR}/cli11)
target_compile_definitions(spacemap_core PUBLIC SPACE_VERSION="${PROJECT_VERSION}")
target_link_libraries(spacemap_core PUBLIC space_core spacemap_page)
if(WIN32)
  target_sources(spacemap_core PRIVATE src/spacemap/codec_none.cc)
else()
  target_sources(spacemap_core PRIVATE src/spacemap/codec.cc)
  target_include_directories(spacemap_core PRIVATE ${SPACE_ZSTD_INCLUDE})
  target_link_libraries(spacemap_core PUBLIC ZLIB::ZLIB ${SPACE_ZSTD_LIBRARY})
endif()
# The browser's screen and its deletions: ncursesw on POSIX, the console on
# Win32.
add_library(spacemap_platform OBJECT ${SPACEMAP_PLATFORM})
target_link_libraries(spacemap_platform PUBLIC space_platform)
if(NOT WIN32)
  target_include_directories(spacemap_platform PRIVATE ${CURSES_INCLUDE_DIRS})
  target_link_libraries(spacemap_platform PUBLIC ${CURSES_LIBRARIES})
endif()
add_executable(spacemap src/spacemap/main.cc)
target_link_libraries(spacemap PRIVATE spacemap_core spacemap_platform space_platform)
