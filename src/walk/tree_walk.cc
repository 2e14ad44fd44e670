#include "walk/tree_walk.h"

#include <cstring>

#include "report/progress.h"
#include "walk/last_char.h"

std::string StartDirectory(const char* pathname) {
  std::string path = pathname;
  int ch = GetLastChar(pathname);
  if (ch == 0 || !strchr(platform::kPathEnders, ch)) path += platform::kSeparator;
  return path;
}

TreeWalk::TreeWalk(const char* pathname, std::string_view start_name, Consumer* consumer,
                   const platform::SubdirFilter* filter)
    : start_name_(start_name), consumer_(consumer), start_path_(StartDirectory(pathname)), path_(start_path_),
      read_ahead_(start_path_.c_str(), filter) {}

void TreeWalk::Run() {
  Arrive(read_ahead_.Root(), nullptr, 0);
  while (!levels_.empty() && !consumer_->Stopped()) {
    Level& level = levels_.back();
    const platform::Listing& listing = level.node->dir.listing;
    if (level.next_entry == listing.entries.size()) {
      Leave();
      continue;
    }
    size_t i = level.next_entry++;
    path_.resize(level.path_len);
    const platform::Entry& entry = listing.entries[i];
    if (entry.attrib & platform::kDirectory) {
      path_ += listing.NameOf(entry);
      path_ += platform::kSeparator;
      Arrive(level.next_child++, &listing, i);
    } else if (!level.passing) {
      consumer_->Entry(listing, i);
    }
  }
}

// `path_` holds the path text of `node`. A directory passed through is no
// directory counted: nothing of it is told.
void TreeWalk::Arrive(DirNode* node, const platform::Listing* parent, size_t entry) {
  ProgressAt(DirName());
  if (!Passing()) ProgressDirectory();
  read_ahead_.Await(node);
  Consumer::Way way = consumer_->Arrive(node->dir.listing, parent, entry);
  if (way == Consumer::kSkip) {
    read_ahead_.Done(node);
    return ShowWhere();
  }
  levels_.push_back(Level{node, path_.size(), node->children.get(), 0, way == Consumer::kPass});
}

void TreeWalk::Leave() {
  Level& level = levels_.back();
  path_.resize(level.path_len);
  if (!level.passing) consumer_->Leave(level.node->dir.listing);
  read_ahead_.Done(level.node);
  levels_.pop_back();
  if (!levels_.empty()) ShowWhere();
}

// The start directory as the start name; any other as its path text, which
// is the first `path_len` bytes of `path_`, less the separator.
std::string_view TreeWalk::NameOf(size_t path_len) const {
  if (path_len == start_path_.size()) return start_name_;
  return std::string_view(path_.data(), path_len - 1);
}

// The progress line names the directory whose entries are walked now.
// `path_` keeps that text until the walk arrives at or leaves a directory,
// when this is called again.
void TreeWalk::ShowWhere() { ProgressAt(NameOf(levels_.back().path_len)); }
