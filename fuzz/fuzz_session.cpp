// Reads arbitrary bytes as a saved session. A session file is anyone's to edit: it must be read
// into a record or refused with a sentence, and a record it gives must save and read back as the
// same record.

#include "FuzzInput.h"
#include "tavrin/workflow/Session.h"

#include <string_view>

using namespace tavrin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    Session::Record record;
    try {
        record = Session::fromJson(text, "fuzz.tavrin");
    } catch (const Session::Unreadable&) {
        return 0;
    }
    try {
        if (Session::fromJson(Session::toJson(record), "again.tavrin") != record)
            tavrin::fuzz::finding("a session reads back as another record");
    } catch (const Session::Unreadable&) {
        tavrin::fuzz::finding("a session Tavrin wrote can't be read back");
    }
    return 0;
}
