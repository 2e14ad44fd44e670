// The depth-first walk over the directories the readers fetch ahead, in
// listing order. The directories being walked are a stack rather than a
// chain of calls, so that no depth of tree can exhaust the stack. The walk
// keeps the path text, the progress line's place and the read-ahead's Await
// and Done; what an entry means is its consumer's.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dir_read.h"
#include "platform/listing.h"
#include "walk/read_ahead.h"

// The start path as the walk enumerates it: with a separator appended unless
// it already ends in one.
std::string StartDirectory(const char* pathname);

class TreeWalk {
 public:
  class Consumer {
   public:
    virtual ~Consumer() = default;
    // A directory's listing is ready: the start directory's, or that of entry
    // `entry` of `parent`. False: the walk passes through what of it was
    // read, as the readers ahead want, and tells no one of it.
    virtual bool Arrive(const platform::Listing& listing, const platform::Listing* parent, size_t entry) = 0;
    // Entry `entry` of an entered directory, a directory excepted.
    virtual void Entry(const platform::Listing& listing, size_t entry) = 0;
    // An entered directory, all its entries told.
    virtual void Leave(const platform::Listing& listing) = 0;
    // True: nothing more is wanted, and the walk ends where it is.
    virtual bool Stopped() { return false; }
  };

  // The tree below `pathname`, which messages and the progress line call
  // `start_name`; `filter` as for ReadAhead.
  TreeWalk(const char* pathname, std::string_view start_name, Consumer* consumer,
           const platform::SubdirFilter* filter = nullptr);
  // Erases the progress line at its end. False: the consumer stopped it.
  bool Run();

  // Of the directory the consumer is told of: its path text, ending in its
  // separator; the part of that below the start path; its name in messages.
  const std::string& Path() const { return path_; }
  std::string_view PathBelowStart() const { return std::string_view(path_).substr(start_path_.size()); }
  std::string_view DirName() const {
    if (path_.size() == start_path_.size()) return start_name_;
    return std::string_view(path_.data(), path_.size() - 1);
  }

 private:
  struct Level {
    DirNode* node;
    size_t path_len;  // where its path text ends
    DirNode* next_child;
    size_t next_entry;
    bool passing;  // told to no one
  };

  void Arrive(DirNode* node, const platform::Listing* parent, size_t entry);
  void Leave();

  const std::string start_name_;
  Consumer* consumer_;
  const std::string start_path_;  // the read-ahead's own, which `path_` grows from
  // The path text of the directory on top of `levels_`, or of the one the
  // walk arrives at.
  std::string path_;
  std::vector<Level> levels_;
  ReadAhead read_ahead_;
};
