// Reads arbitrary bytes as a target file. A target is anyone's to write or share: it must become
// a spec or be refused with a sentence, and a spec it gives must write and read back as itself.

#include "FuzzInput.h"
#include "tavrin/workflow/TargetFiles.h"

#include <stdexcept>
#include <string_view>

using namespace tavrin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    DeliverySpec spec;
    try {
        spec = Workflow::targetFromJson(text);
    } catch (const std::invalid_argument&) {
        return 0;
    }
    try {
        if (Workflow::targetFromJson(Workflow::targetToJson(spec)) != spec)
            tavrin::fuzz::finding("a target reads back as another");
    } catch (const std::invalid_argument&) {
        tavrin::fuzz::finding("a target Tavrin wrote can't be read back");
    }
    return 0;
}
