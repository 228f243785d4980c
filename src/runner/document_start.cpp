// The document handler of this build: the configuration document is not part of it yet, so the
// start-up says so plainly and ends with its own exit code.
#include <cstdio>

#include "runner/runner.h"

namespace kba604 {
namespace {

class NoDocument final : public DocumentHandler {
 public:
  DocumentStart construct(RunContext&) override {
    std::fputs(
        "kba604: this build has no description loader yet; the configuration document cannot "
        "be built\n",
        stderr);
    return DocumentStart::Unavailable;
  }
  void run_command(RunContext&, int) override {}
  void stop() override {}
};

}  // namespace

std::unique_ptr<DocumentHandler> make_document_handler() {
  return std::make_unique<NoDocument>();
}

}  // namespace kba604
