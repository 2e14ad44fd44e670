#include "spacemap/kinds.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "platform/path.h"

const KindGroup kKindGroups[] = {
    {"Other", ""},
    {"Archives and packages",
     "zip tar gz tgz bz2 xz zst lz lz4 lzma 7z rar deb rpm apk jar war iso img dmg cab snap squashfs"},
    {"Images",
     "png jpg jpeg gif bmp svg svgz webp tif tiff ico icns xcf psd heic avif raw cr2 nef xpm xbm pbm pgm ppm"},
    {"Audio and video",
     "mp3 ogg oga flac wav m4a opus aac mid midi wma mp4 mkv avi mov webm wmv flv m4v mpg mpeg ogv 3gp"},
    {"Documents", "pdf doc docx odt ods odp xls xlsx ppt pptx rtf epub ps eps dvi djvu chm info man"},
    {"Source and text",
     "c cc cpp cxx h hh hpp py pyc js mjs ts java kt go rs rb pl pm php cs swift sh bash zsh el lua tcl css scss "
     "html htm xml xsl json yaml yml toml ini cfg conf txt md rst tex csv tsv po pot mk cmake in am s asm pas pp inc "
     "lpr dpr lfm lpi adb ads vim fish"},
    {"Programs and libraries", "so a o ko dll exe bin elf class wasm lib dylib sys efi ppu ali bc jmod jsa debug"},
    {"Data and databases",
     "db sqlite sqlite3 log dat pak qcow2 vdi vmdk vhd parquet hdf5 h5 npy pkl idx pack ttf otf woff woff2 pcf mo nls "
     "hwdb md5sums list"},
};
const size_t kKindGroupCount = sizeof kKindGroups / sizeof kKindGroups[0];

namespace {

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
  return lower;
}

std::unordered_map<std::string, size_t> GroupsByExtension() {
  std::unordered_map<std::string, size_t> groups;
  for (size_t group = 1; group < kKindGroupCount; ++group) {
    const char* at = kKindGroups[group].extensions;
    while (*at) {
      size_t length = strcspn(at, " ");
      groups.emplace(std::string(at, length), group);
      at += length + (at[length] == ' ');
    }
  }
  return groups;
}

bool AllDigits(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

}  // namespace

std::string ExtensionOf(std::string_view name) {
  size_t dot = name.rfind('.');
  // A version after the extension is passed over: libfoo.so.1.2 is a library.
  while (dot != std::string_view::npos && dot > 0 && AllDigits(name.substr(dot + 1)) &&
         name.rfind('.', dot - 1) != std::string_view::npos) {
    name = name.substr(0, dot);
    dot = name.rfind('.');
  }
  if (dot == std::string_view::npos || dot == 0) return std::string();
  std::string_view extension = name.substr(dot + 1);
  return platform::kNamesIgnoreCase ? Lower(extension) : std::string(extension);
}

size_t GroupOf(std::string_view extension) {
  static const std::unordered_map<std::string, size_t> groups = GroupsByExtension();
  auto found = groups.find(Lower(extension));
  return found == groups.end() ? 0 : found->second;
}
