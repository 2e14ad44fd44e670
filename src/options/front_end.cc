#include "options/front_end.h"

#include <string>
#include <vector>

#include "driver/opt.h"
#include "options/ascii.h"
#include "options/cmdname.h"
#include "options/parse_arg.h"
#include "platform/drive.h"
#include "platform/path.h"
#include "platform/process.h"
#include "report/diagnostic.h"

namespace {

// `opt.pathname` points into these, so they live as long as the run.
std::vector<std::string> arguments;
std::vector<char*> argument_vector;
std::string environment_options;

// Enters the start path, making its drive current where it names one; from
// then on the start path is ".".
int EnterStartPath() {
  if (NamesDrive(opt.pathname)) {
    platform::setdisk(AsciiUpper(opt.pathname[0]) - 'A');
    opt.drive = static_cast<unsigned>(platform::getdisk() + 'A');
  }
  // An empty start path names the root directory, as it does without -p.
  const std::string root(1, platform::kSeparator);
  if (int error = platform::chdir(*opt.pathname ? opt.pathname : root.c_str())) {
    ReportFailure("cannot enter directory '" + std::string(opt.pathname) + "'", error);
    return 2;
  }
  opt.pathname = ".";
  return -1;
}

}  // namespace

int ApplyOptions(int argc, char** argv) {
  arguments = platform::Arguments(argc, argv);
  argument_vector.clear();
  for (std::string& argument : arguments) argument_vector.push_back(&argument[0]);
  argument_vector.push_back(nullptr);
  av = argument_vector.data();

  // The help ends the run with 1, unless writing it failed.
  if (platform::GetEnv(cmdname(), &environment_options) && ParseArg(environment_options.c_str()))
    return AnyFailure() ? 2 : 1;
  for (size_t i = 1; i < arguments.size(); ++i)
    if (ParseArg(av[i])) return AnyFailure() ? 2 : 1;
  return opt.p ? EnterStartPath() : -1;
}
