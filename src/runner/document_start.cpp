// The document handler of this build. The configuration document itself is not part of it yet;
// what it has is the document's start: the service parameters, the instrument's description
// from the data folder and the configurator registration. "test" ends there, with exit code 0
// when the description loaded and the code of a refused description when a file was damaged.
#include <cstdio>

#include "app/registration.h"
#include "description/description_loader.h"
#include "description/elements.h"
#include "model/parameter_table.h"
#include "runner/runner.h"

namespace kba604 {
namespace {

class DescriptionOnlyDocument final : public DocumentHandler {
 public:
  DocumentStart construct(RunContext& context) override {
    Prompter& prompter = context.app.prompter();
    service_ = std::make_unique<Elements::CommonParams>(&context.registration);

    // The device loads its table first, so that "ver" exists; the description then loads it
    // again behind the version gate. Without a line to the instrument "ver" cannot be read,
    // and the description loads as it is.
    DescriptionRequest request;
    request.data_folder = context.settings.data_directory();
    load_parameter_table(table_, request.data_folder / "parameters.zip", nullptr);
    description_ = load_description(table_, request, &prompter);
    register_configurator(context.registration, prompter, context.program_path, KBA604_VERSION);

    if (description_.refused) return DocumentStart::DescriptionRefused;
    if (context.app.options.mode_flags.load() & StartOptions::kTest) {
      return DocumentStart::Refused;
    }
    std::fputs("kba604: the configuration document is not part of this build yet\n", stderr);
    return DocumentStart::Unavailable;
  }
  void run_command(RunContext&, int) override {}
  void stop() override {}

 private:
  ParameterTable table_;
  std::unique_ptr<Elements::CommonParams> service_;
  DescriptionLoad description_;
};

}  // namespace

std::unique_ptr<DocumentHandler> make_document_handler() {
  return std::make_unique<DescriptionOnlyDocument>();
}

}  // namespace kba604
