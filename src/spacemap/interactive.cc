#include "spacemap/interactive.h"

#include <exception>
#include <new>

#include "platform/screen.h"
#include "platform/thread.h"
#include "report/diagnostic.h"
#include "spacemap/browser.h"
#include "spacemap/diff_model.h"
#include "spacemap/live_tree.h"

namespace {

// How often the screen is drawn again while the scan runs, for its live
// counts (its end wakes the screen at once), and at most how long a signal
// waits to be seen once it has ended (one that reaches the waiting thread is
// seen at once).
constexpr int kScanningRedrawMs = 100;
constexpr int kIdleWaitMs = 1000;

struct ScanJob {
  LiveTree* tree;
  const ScanLoader* load;
  platform::Screen* screen;  // woken when the scan ends, to show its totals at once
  bool failed = false;  // the scan could not be read whole, and said why
};

void RunScan(void* arg) {
  auto* job = static_cast<ScanJob*>(arg);
  try {
    job->failed = !(*job->load)(job->tree);
  } catch (const ScanStopped&) {
  } catch (const std::bad_alloc&) {
    WriteMessage("out of memory", "the scan stopped short");
    job->failed = true;
  } catch (const std::exception& e) {
    WriteMessage("cannot hold the tree", e.what());
    job->failed = true;
  }
  job->tree->Finish();
  job->screen->Wake();
}

// Draws and answers keys until the browser quits or a signal ends it; then
// gives the terminal back and, for a signal, ends by it.
void Run(platform::Screen* screen, Browser* browser, const std::function<bool()>& scanning) {
  for (;;) {
    std::vector<ScreenLine> lines = browser->Render(screen->Rows(), screen->Columns());
    for (size_t row = 0; row < lines.size(); ++row) screen->Line(static_cast<int>(row), lines[row].text, lines[row].look);
    screen->Show();
    if (!browser->Press(screen->ReadKey(scanning() ? kScanningRedrawMs : kIdleWaitMs))) return;
  }
}

std::unique_ptr<platform::Screen> OpenScreen() {
  std::string why;
  std::unique_ptr<platform::Screen> screen = platform::Screen::Open(&why);
  if (!screen) WriteMessage("--interactive", why);
  return screen;
}

}  // namespace

int BrowseScan(const Options& o, const std::string& start, bool walked, const ScanLoader& load) {
  std::unique_ptr<platform::Screen> screen = OpenScreen();
  if (!screen) return 2;
  LiveTree tree(start, o.scan, o.count_links, walked);
  ScanJob job{&tree, &load, screen.get()};
  platform::Thread* thread = platform::StartThread(RunScan, &job);
  if (!thread) RunScan(&job);
  Browser browser(&tree, o.view.units, o.view.key);
  Run(screen.get(), &browser, [&tree] { return !tree.Done(); });
  tree.Stop();
  if (thread) platform::JoinThread(thread);
  int signal = screen->Signal();
  screen.reset();
  if (signal) platform::RaiseAgain(signal);
  return job.failed || AnyFailure() ? 2 : 0;
}

int BrowseDiff(const Options& o, const Tree& old_tree, const Tree& new_tree) {
  std::unique_ptr<platform::Screen> screen = OpenScreen();
  if (!screen) return 2;
  DiffModel model(old_tree, new_tree);
  Browser browser(&model, o.view.units, o.view.key);
  Run(screen.get(), &browser, [] { return false; });
  int signal = screen->Signal();
  screen.reset();
  if (signal) platform::RaiseAgain(signal);
  return AnyFailure() ? 2 : 0;
}
