// The scan as the browser sees it while it is made: a walk or an import
// runs on a thread of its own and tells this sink, which builds the tree
// under a lock that the browser takes to read it. A directory whose walk
// has ended is final; those still open (the path the walk is on) show the
// totals counted so far.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "spacemap/browser.h"
#include "spacemap/scan.h"
#include "spacemap/tree.h"

// Thrown from the sink's events once the browser has asked the walk to stop.
struct ScanStopped {};

class LiveTree : public ScanSink, public BrowseModel {
 public:
  // `start` is the walked directory's path, or the export's name; a walk
  // keeps each entry's identity, so that its entries may be deleted.
  LiveTree(const std::string& start, const ScanChoices& choices, bool count_links, bool walked);
  ~LiveTree() override;

  // The scanning thread's.
  void Enter(const Item& dir) override;
  void Leaf(const Item& item) override;
  void Leave() override;
  // The scan has ended, whole or stopped.
  void Finish();
  bool Done() const;
  // Makes the scan's next event throw ScanStopped.
  void Stop() { stop_.store(true, std::memory_order_relaxed); }

  EntryId Root() override { return 0; }
  BrowseEntry Describe(EntryId id) override;
  void Children(EntryId dir, const Ordering& ordering, std::vector<EntryId>* ids) override;
  std::vector<std::string> Details(EntryId id) override;
  std::string Status(SortKey key, Units units) override;
  uint64_t Generation(EntryId dir) override;
  std::string ReadOnly() const override;
  std::string Remove(const std::vector<EntryId>& chain) override;
  std::string Refresh(const std::vector<EntryId>& chain) override;
  std::string Export(const std::string& file) override;

 private:
  struct State;
  struct Fields;
  friend struct Fields;

  void Event();
  bool Open(NodeIndex node) const;
  NodeIndex End(NodeIndex node) const;
  uint64_t LiveSize(NodeIndex node, SortKey key) const;
  BrowseEntry EntryOf(NodeIndex node) const;
  uint64_t ItemsBelow(NodeIndex node) const;
  std::string PathOf(const std::vector<EntryId>& chain) const;
  void CountRemoved();

  const std::string start_;
  const ScanChoices& choices_;
  const bool count_links_;
  const bool walked_;
  mutable std::mutex mu_;
  std::unique_ptr<State> state_;
  std::atomic<bool> stop_{false};
  bool done_ = false;
  uint64_t events_ = 0;   // scan events told
  uint64_t changes_ = 0;  // deletions, refreshes, the end of the scan
  uint64_t files_ = 0, bytes_ = 0;
  std::unordered_set<NodeIndex> removed_;
  std::unordered_map<NodeIndex, uint64_t> removed_below_;  // entries gone below each directory
};
