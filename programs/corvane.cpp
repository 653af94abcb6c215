// corvane: the suite's command-line tool.
#include <unistd.h>

#include <string>
#include <vector>

#include "cli/cli.h"
#include "platform/locale.h"
#include "platform/paths.h"
#include "platform/registry.h"

int main(int argc, char** argv) {
  using namespace corvane;
  cli::Context ctx;
  ctx.paths = platform::ResolveProcessPaths();
  platform::Registry registry(ctx.paths.registry_store());
  ctx.registry = &registry;
  ctx.locale_language = platform::LocaleLanguageName(platform::ProcessEnvironment());
  ctx.in_fd = 0;
  ctx.in_is_terminal = ::isatty(0) == 1;
  ctx.err_is_terminal = ::isatty(2) == 1;
  ctx.handle_interrupts = true;
  std::vector<std::string> args(argv + 1, argv + argc);
  return cli::Run(args, ctx);
}
