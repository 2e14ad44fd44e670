#include "walk/tree_walk.h"

#include <cstring>

#include "platform/path.h"
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

bool TreeWalk::Run() {
  // Asked before the walk holds a descriptor: the undefined-behaviour
  // sanitizer's check of the first virtual call needs two of its own.
  if (consumer_->Stopped()) return false;
  Arrive(read_ahead_.Root(), nullptr, 0);
  while (!levels_.empty() && !consumer_->Stopped()) {
    Level& level = levels_.back();
    const platform::Listing& listing = level.node->dir.listing;
    if (level.next_entry == listing.entries.size()) {
      Leave();
      continue;
    }
    size_t i = level.next_entry++;
    const platform::Entry& entry = listing.entries[i];
    if (entry.attrib & platform::kDirectory) {
      path_ += listing.NameOf(entry);
      path_ += platform::kSeparator;
      Arrive(level.next_child++, &listing, i);
    } else if (!level.passing) {
      consumer_->Entry(listing, i);
    }
  }
  ProgressErase();
  return levels_.empty();
}

// The progress line names the directory whose entries are walked now. The
// text stays in `path_` as it is until the walk arrives at or leaves a
// directory, when the line is told again. Below a directory passed
// through, nothing is told or counted.
void TreeWalk::Arrive(DirNode* node, const platform::Listing* parent, size_t entry) {
  bool passing = !levels_.empty() && levels_.back().passing;
  ProgressAt(DirName());
  if (!passing) ProgressDirectory();
  read_ahead_.Await(node);
  passing = passing || !consumer_->Arrive(node->dir.listing, parent, entry);
  levels_.push_back(Level{node, path_.size(), node->children.get(), 0, passing});
}

void TreeWalk::Leave() {
  Level& level = levels_.back();
  if (!level.passing) consumer_->Leave(level.node->dir.listing);
  read_ahead_.Done(level.node);
  levels_.pop_back();
  if (levels_.empty()) return;
  path_.resize(levels_.back().path_len);
  ProgressAt(DirName());
}
