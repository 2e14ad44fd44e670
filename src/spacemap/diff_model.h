// The difference of two scans as the browser shows it: each directory's
// entries of either scan, paired by name, with both sizes.
#pragma once

#include "spacemap/browser.h"
#include "spacemap/tree.h"

class DiffModel : public BrowseModel {
 public:
  DiffModel(const Tree& old_tree, const Tree& new_tree) : old_(old_tree), new_(new_tree) {}

  EntryId Root() override;
  BrowseEntry Describe(EntryId id) override;
  void Children(EntryId dir, const Ordering& ordering, std::vector<EntryId>* ids) override;
  std::vector<std::string> Details(EntryId id) override;
  std::string Status(SortKey key, Units units) override;
  uint64_t Generation(EntryId) override { return 0; }
  bool Comparison() const override { return true; }
  std::string ReadOnly() const override { return "a comparison is read-only: nothing is deleted"; }
  std::string Remove(const std::vector<EntryId>&) override { return ReadOnly(); }
  std::string Refresh(const std::vector<EntryId>&) override { return ReadOnly(); }
  std::string Export(const std::string&) override { return ReadOnly(); }

 private:
  struct Fields;
  const Tree& old_;
  const Tree& new_;
};
