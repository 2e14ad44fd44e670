// The depth-first walk over the directories the readers fetch ahead: in
// listing order, the directories being walked a stack rather than a chain
// of calls, so that no depth of tree can exhaust the stack. It keeps the
// path text, the progress line's "where" and the read-ahead's Await and
// Done; what a directory or a file means is its consumer's.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "walk/read_ahead.h"

// The start path as the walk enumerates it: with a separator appended unless
// it already ends in one.
std::string StartDirectory(const char* pathname);

class TreeWalk {
 public:
  class Consumer {
   public:
    // kEnter: the walk tells of the directory's entries and of its leaving.
    // kPass: it walks the directory told to no one, as the readers ahead want
    // every directory they read to be. kSkip: it is done with it at once.
    enum Way { kEnter, kPass, kSkip };

    virtual ~Consumer() = default;
    // The listing of a directory is ready: the start directory's, which is
    // entered, or that of entry `entry` of `parent`. Below a directory
    // passed through, the answer is kPass or kSkip.
    virtual Way Arrive(const platform::Listing& listing, const platform::Listing* parent, size_t entry) = 0;
    // Entry `entry` of an entered directory's listing, a directory excepted.
    virtual void Entry(const platform::Listing& listing, size_t entry) = 0;
    // An entered directory, whose entries have all been told.
    virtual void Leave(const platform::Listing& listing) = 0;
    // True: nothing more is wanted, and the walk ends where it is.
    virtual bool Stopped() { return false; }
  };

  // Walks the tree below `pathname`, which messages and the progress line
  // name `start_name`. `filter` as for ReadAhead.
  TreeWalk(const char* pathname, std::string_view start_name, Consumer* consumer,
           const platform::SubdirFilter* filter = nullptr);

  void Run();

  // While the consumer is told of a directory or of an entry of it: that
  // directory's path text, ending in its separator; the part of it below the
  // start path; and its name as messages and the progress line name it.
  const std::string& Path() const { return path_; }
  std::string_view PathBelowStart() const { return std::string_view(path_).substr(start_path_.size()); }
  std::string_view DirName() const { return NameOf(path_.size()); }
  // While the consumer is asked of a directory: it lies below one passed
  // through.
  bool Passing() const { return !levels_.empty() && levels_.back().passing; }

 private:
  // A directory being walked: where its path text ends in `path_`, and what
  // comes next of its listing and of its subdirectories.
  struct Level {
    DirNode* node;
    size_t path_len;
    DirNode* next_child;
    size_t next_entry = 0;
    bool passing = false;
  };

  void Arrive(DirNode* node, const platform::Listing* parent, size_t entry);
  void Leave();
  std::string_view NameOf(size_t path_len) const;
  void ShowWhere();

  const std::string start_name_;
  Consumer* consumer_;
  const std::string start_path_;  // the read-ahead's own, which path_ grows from
  // The path text of the deepest directory, ending in its separator; each
  // level remembers where its own ends.
  std::string path_;
  std::vector<Level> levels_;
  ReadAhead read_ahead_;
};
